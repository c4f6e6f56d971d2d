// Brisko's process-wide defaults and stream formats, set by static
// initialisers when the library loads.
#include "Brisko.h"

#include <cstring>

#include "Registration.h"
#include "Registry.h"

// {402D97D3-7270-11D6-B98B-0050DACA0D41}
const CLSID CLSID_Brisko = {0x402D97D3, 0x7270, 0x11D6, {0xB9, 0x8B, 0x00, 0x50, 0xDA, 0xCA, 0x0D, 0x41}};

DWORD g_dwThreadSleepTime = 25;
std::string g_strGeneratedGroupName = "Group";
DWORD g_dwAutoStart = 1;
DWORD g_dwStringLength = 20;
std::string g_strSignalConditioning = "NONE";
std::string g_strLoEGU = "0.0";
std::string g_strHiEGU = "65535.0";
std::string g_strHardwareOptions = "NONE";

const UINT g_cfData = RegisterClipboardFormatA("OPCSTMFORMATDATA");
const UINT g_cfDataTime = RegisterClipboardFormatA("OPCSTMFORMATDATATIME");
const UINT g_cfWriteComplete = RegisterClipboardFormatA("OPCSTMFORMATWRITECOMPLETE");

namespace {

const char kServerDefaults[] = "ServerDefaults";
const char kItemDefaults[] = "ItemDefaults";
const char kGroupDefaults[] = "GroupDefaults";

// One row of the table: where it lives, its type, and the variable.
struct DefaultRow {
    const char *subkey;
    const char *name;
    DWORD *number;
    std::string *text;
};

const DefaultRow kRows[] = {
    {kServerDefaults, "ThreadSleepTime", &g_dwThreadSleepTime, nullptr},
    {kGroupDefaults, "GeneratedGroupName", nullptr, &g_strGeneratedGroupName},
    {kItemDefaults, "AutoStart", &g_dwAutoStart, nullptr},
    {kItemDefaults, "StringLength", &g_dwStringLength, nullptr},
    {kItemDefaults, "SignalConditioning", nullptr, &g_strSignalConditioning},
    {kItemDefaults, "LoEGU", nullptr, &g_strLoEGU},
    {kItemDefaults, "HiEGU", nullptr, &g_strHiEGU},
    {kItemDefaults, "HardwareOptions", nullptr, &g_strHardwareOptions},
};

}  // namespace

BOOL ReadRegistryDefaults()
{
    for (const DefaultRow &row : kRows) {
        char buffer[RegistryValueSize] = {};
        if (!QueryRegistryValue(BRISKO_DEFAULTS_KEY, row.subkey, row.name, buffer, row.number ? REG_DWORD : REG_SZ))
            continue;
        if (row.number)
            memcpy(row.number, buffer, sizeof(DWORD));
        else
            *row.text = buffer;
        // "NONE" read from the registry means none; the built-in text stays.
        if (row.text == &g_strHardwareOptions && lstrcmpiA(buffer, "NONE") == 0)
            g_strHardwareOptions.clear();
    }
    if (g_dwThreadSleepTime < MinThreadSleepTime)
        g_dwThreadSleepTime = MinThreadSleepTime;
    return TRUE;
}

BOOL WriteRegistryDefaults()
{
    for (const char *subkey : {kServerDefaults, kItemDefaults, kGroupDefaults}) {
        std::string path = std::string(BRISKO_DEFAULTS_KEY) + "\\" + subkey;
        HKEY key = nullptr;
        DWORD disposition = 0;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, &key, &disposition) != ERROR_SUCCESS)
            continue;
        if (disposition == REG_CREATED_NEW_KEY) {
            for (const DefaultRow &row : kRows) {
                if (strcmp(row.subkey, subkey) != 0)
                    continue;
                if (row.number)
                    RegSetValueExA(key, row.name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(row.number),
                                   sizeof(DWORD));
                else  // with the terminating zero, as every reader expects
                    RegSetValueExA(key, row.name, 0, REG_SZ, reinterpret_cast<const BYTE *>(row.text->c_str()),
                                   DWORD(row.text->size() + 1));
            }
        }
        RegCloseKey(key);
    }
    return TRUE;
}

BOOL DeleteRegistryDefaults()
{
    CRegistry reg;
    for (const char *subkey : {kServerDefaults, kGroupDefaults, kItemDefaults})
        reg.DeleteKey((std::string(BRISKO_DEFAULTS_KEY) + "\\" + subkey).c_str());
    reg.DeleteKey(BRISKO_DEFAULTS_KEY);
    return TRUE;
}
