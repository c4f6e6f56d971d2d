#include "Registration.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "OpcKit.h"

namespace {

std::string Join(const char *key, const char *subkey)
{
    std::string path = key;
    if (subkey && *subkey)
        path += std::string("\\") + subkey;
    return path;
}

// Texts are stored with their terminating zero.
LONG SetText(HKEY key, const char *name, const char *text)
{
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text), DWORD(strlen(text) + 1));
}

void DeleteClassesKey(const std::string &path) { RegDeleteKeyA(HKEY_CLASSES_ROOT, path.c_str()); }

// Deletes an HKCR key that holds neither subkeys nor values.
void DeleteClassesKeyIfEmpty(const std::string &path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    DWORD subkeys = 1, values = 1;
    LONG rc = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                               nullptr, nullptr);
    RegCloseKey(key);
    if (rc == ERROR_SUCCESS && subkeys == 0 && values == 0)
        DeleteClassesKey(path);
}

}  // namespace

BOOL SetKeyAndValue(const char *key, const char *subkey, const char *text)
{
    HKEY h = nullptr;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, Join(key, subkey).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &h, nullptr) != ERROR_SUCCESS)
        return FALSE;
    LONG rc = text ? SetText(h, nullptr, text) : ERROR_SUCCESS;
    RegCloseKey(h);
    return rc == ERROR_SUCCESS;
}

BOOL SetNamedValue(const char *key, const char *subkey, const char *name, const char *text)
{
    if (!text)
        return FALSE;
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, Join(key, subkey).c_str(), 0, KEY_ALL_ACCESS, &h) != ERROR_SUCCESS)
        return FALSE;
    LONG rc = SetText(h, name, text);
    RegCloseKey(h);
    return rc == ERROR_SUCCESS;
}

BOOL QueryRegistryValue(const char *key, const char *subkey, const char *name, void *buffer, DWORD type)
{
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, Join(key, subkey).c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return FALSE;
    BYTE data[RegistryValueSize + 1];
    DWORD size = RegistryValueSize;
    DWORD actual = REG_NONE;
    LONG rc = RegQueryValueExA(h, name, nullptr, &actual, data, &size);
    RegCloseKey(h);
    // A value of another type, or one that does not fit, leaves the
    // caller's default as it is.
    if (rc != ERROR_SUCCESS || actual != type)
        return FALSE;
    if (type == REG_DWORD) {
        if (size != sizeof(DWORD))
            return FALSE;
    } else if (type == REG_SZ) {
        data[size] = 0;
        if (size == RegistryValueSize && data[size - 1] != 0)
            return FALSE;  // no room left for the terminating zero
        size = DWORD(strlen(reinterpret_cast<char *>(data)) + 1);
    }
    std::memcpy(buffer, data, size);
    return TRUE;
}

HRESULT WideToAnsi(const wchar_t *wide, char *buffer, int size)
{
    if (!wide || !buffer)
        return E_INVALIDARG;
    if (size == 0)
        size = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0 || WideCharToMultiByte(CP_ACP, 0, wide, -1, buffer, size, nullptr, nullptr) == 0)
        return E_FAIL;
    return S_OK;
}

HRESULT CLSIDToString(REFCLSID clsid, char *buffer, int size)
{
    if (!buffer || size < 1)
        return E_INVALIDARG;
    wchar_t wide[40];
    if (StringFromGUID2(clsid, wide, 40) == 0)
        return E_OUTOFMEMORY;
    return WideToAnsi(wide, buffer, size);
}

HRESULT RegisterServerKeys(REFCLSID clsid, const char *progId, const char *description, const char *vendor,
                           const char *threadingModel)
{
    char clsidText[40] = "";
    CLSIDToString(clsid, clsidText, sizeof(clsidText));
    char module[MAX_PATH] = "";
    GetModuleFileNameA(g_hModule, module, MAX_PATH);
    std::string p = progId, versioned = p + ".1";
    std::string classKey = std::string("CLSID\\") + clsidText;
    std::string appKey = std::string("AppID\\") + clsidText;

    SetKeyAndValue(versioned.c_str(), nullptr, description);
    SetKeyAndValue(versioned.c_str(), "CLSID", clsidText);
    SetKeyAndValue(p.c_str(), nullptr, description);
    SetKeyAndValue(p.c_str(), "CurVer", versioned.c_str());
    SetKeyAndValue(p.c_str(), "CLSID", clsidText);
    SetKeyAndValue(p.c_str(), "OPC", nullptr);
    SetKeyAndValue(p.c_str(), "OPC\\Vendor", vendor);
    SetKeyAndValue(classKey.c_str(), nullptr, description);
    SetKeyAndValue(classKey.c_str(), "ProgID", p.c_str());
    SetKeyAndValue(classKey.c_str(), "VersionIndependentProgID", p.c_str());
    SetKeyAndValue(classKey.c_str(), "NotInsertable", nullptr);
    SetKeyAndValue(classKey.c_str(), "InprocServer32", module);
    SetNamedValue(classKey.c_str(), "InprocServer32", "ThreadingModel", threadingModel);
    SetNamedValue(classKey.c_str(), nullptr, "AppID", clsidText);
    SetKeyAndValue(appKey.c_str(), nullptr, description);
    SetNamedValue(appKey.c_str(), nullptr, "DllSurrogate", "");
    SetNamedValue(appKey.c_str(), nullptr, "RunAs", "Interactive User");
    return S_OK;
}

HRESULT UnregisterServerKeys(REFCLSID clsid, const char *progId)
{
    char clsidText[40] = "";
    CLSIDToString(clsid, clsidText, sizeof(clsidText));
    std::string p = progId, versioned = p + ".1";
    std::string classKey = std::string("CLSID\\") + clsidText;
    std::string appKey = std::string("AppID\\") + clsidText;

    for (const char *sub : {"\\OPC\\Vendor", "\\OPC", "\\CurVer", "\\CLSID"})
        DeleteClassesKey(p + sub);
    DeleteClassesKey(versioned + "\\CLSID");
    for (const char *sub : {"ProgID", "VersionIndependentProgID", "NotInsertable", "InprocServer32",
                            "Implemented Categories"})
        DeleteClassesKey(classKey + "\\" + sub);
    for (const char *sub : {"DllSurrogate", "RunAs", "AccessPermission", "LaunchPermission"})
        DeleteClassesKey(appKey + "\\" + sub);
    DeleteClassesKey(p);
    DeleteClassesKey(versioned);
    DeleteClassesKey(classKey);
    DeleteClassesKey(appKey);
    return S_OK;
}

BOOL RegisterCategories(const CATEGORYINFO *rows, ULONG count)
{
    ICatRegister *reg = nullptr;
    if (FAILED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatRegister,
                                reinterpret_cast<void **>(&reg))))
        return FALSE;
    HRESULT hr = reg->RegisterCategories(count, const_cast<CATEGORYINFO *>(rows));
    reg->Release();
    return SUCCEEDED(hr);
}

HRESULT RegisterImplementedCategories(REFCLSID clsid, BOOL registerIt, const CATEGORYINFO *rows, ULONG count)
{
    if (!rows)
        return E_FAIL;
    ICatRegister *reg = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatRegister,
                                  reinterpret_cast<void **>(&reg));
    if (FAILED(hr))
        return hr;
    for (ULONG i = 0; i < count && SUCCEEDED(hr); ++i) {
        CATID id = rows[i].catid;
        hr = registerIt ? reg->RegisterClassImplCategories(clsid, 1, &id)
                        : reg->UnRegisterClassImplCategories(clsid, 1, &id);
    }
    reg->Release();
    // Unregistering runs after the class keys were deleted, but the class
    // key could not go while the category marks were its grandchildren: now
    // that they are gone, so go the emptied "Implemented Categories" and the
    // class key, unless something else still hangs below it.
    if (!registerIt) {
        char clsidText[40] = "";
        CLSIDToString(clsid, clsidText, sizeof(clsidText));
        std::string classKey = std::string("CLSID\\") + clsidText;
        DeleteClassesKeyIfEmpty(classKey + "\\Implemented Categories");
        DeleteClassesKey(classKey);  // refused while it has subkeys
    }
    return hr;
}
