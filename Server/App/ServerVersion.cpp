#include "ServerVersion.h"
#include <algorithm>
#include <cctype>
#include <vector>
#include "QORDriver.h"

namespace {

std::string Upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return text;
}

bool QueryString(const std::vector<char> &block, const char *name, std::string &value)
{
    std::string path = std::string("\\StringFileInfo\\040904b0\\") + name;
    char *text = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void **>(&text), &length) || !text)
        return false;
    value.assign(text, strnlen(text, length));
    return true;
}

} // namespace

bool ReadServerVersion(HMODULE module, CServerVersion &version)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(module, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return false;
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0)
        return false;
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(path, 0, size, block.data()))
        return false;
    CServerVersion read;
    if (!QueryString(block, "ProductName", read.productName) ||
        !QueryString(block, "ProductVersion", read.productVersion) ||
        !QueryString(block, "FileDescription", read.fileDescription) ||
        !QueryString(block, "InternalName", read.acronym))
        return false;
    read.modulePath = Upper(path);
    version = read;
    return true;
}

std::string GuidText(REFGUID guid)
{
    wchar_t wide[64];
    if (StringFromGUID2(guid, wide, 64) == 0)
        return std::string();
    std::string text;
    for (const wchar_t *p = wide; *p; ++p)
        text += char(*p);
    return text;
}

CServerNames MakeServerNames(const CServerVersion &version)
{
    CServerNames names;
    names.clsid = GuidText(CLSID_QORDriver);
    names.typeLibId = GuidText(LIBID_QORDriverLib);
    names.progId = "Veltrane.Hadrel";
    names.versionedProgId = names.progId + "." + version.productVersion.substr(0, 1);
    names.description = version.productName;
    names.descriptionWithVersion = version.productName + " " + version.productVersion.substr(0, 3);
    names.modulePath = Upper(version.modulePath);
    size_t slash = names.modulePath.find_last_of("\\/");
    names.moduleFileName = slash == std::string::npos ? names.modulePath : names.modulePath.substr(slash + 1);
    names.typeLibPath = names.modulePath;
    size_t dot = names.typeLibPath.rfind(".EXE");
    if (dot != std::string::npos && dot + 4 == names.typeLibPath.size())
        names.typeLibPath.replace(dot, 4, ".TLB");
    else
        names.typeLibPath += ".TLB";
    names.serviceName = "Hadrel";
    names.serviceDisplayName = "QOR Server";
    return names;
}

std::string DriverRegistryKey(const std::string &acronym) { return "Software\\Veltrane\\Drivers\\" + acronym; }
