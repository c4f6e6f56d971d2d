#include "ScopeHelp.h"
#include <cstdio>

const char ScopeHelpFile[] = "QORf1.chm";
const CLSID CLSID_ScopeHelpControl = {0x1E57C6C4, 0xB069, 0x11D3, {0x8D, 0x43, 0x00, 0x10, 0x4B, 0x13, 0x8C, 0x8C}};
const IID IID_IScopeHelpControl = {0x1E57C6C3, 0xB069, 0x11D3, {0x8D, 0x43, 0x00, 0x10, 0x4B, 0x13, 0x8C, 0x8C}};

bool CScopeHelpLocator::ReadFolder(HKEY root, const char *key, const char *value, std::string &folder)
{
    HKEY handle;
    if (RegOpenKeyExA(root, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    char text[MAX_PATH + 1] = {0};
    DWORD type = 0, size = MAX_PATH;
    const LONG rc = RegQueryValueExA(handle, value, NULL, &type, reinterpret_cast<BYTE *>(text), &size);
    RegCloseKey(handle);
    if (rc != ERROR_SUCCESS || type != REG_SZ)
        return false;
    folder = text;
    return true;
}

bool CScopeHelpLocator::FileExists(const std::string &path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string FindScopeHelpFile(IScopeHelpLocator &locator)
{
    struct Place {
        HKEY root;
        const char *key;
        const char *value;
    };
    static const Place places[] = {
        {HKEY_LOCAL_MACHINE, "Software\\Veltrane\\Drivers\\QOR", "NlsPath"},
        {HKEY_CLASSES_ROOT, "Software\\Kestrune\\NLSPATH", nullptr},
        {HKEY_CLASSES_ROOT, "Software\\Kestrune\\BASPATH", nullptr},
        {HKEY_CLASSES_ROOT, "Software\\Brenta Dynamics\\NLSPATH", nullptr},
        {HKEY_CLASSES_ROOT, "Software\\Brenta Dynamics\\BASPATH", nullptr},
    };
    for (const Place &place : places) {
        std::string folder;
        if (!locator.ReadFolder(place.root, place.key, place.value, folder) || folder.empty())
            continue;
        const std::string path = folder + "\\" + ScopeHelpFile;
        if (locator.FileExists(path))
            return path;
    }
    return ScopeHelpFile;
}

ScopeHelpRequest ScopeHelpFor(const ScopeHelpInput &input)
{
    ScopeHelpRequest request{false, {0, 0}, input.id};
    if (input.modifierHeld)
        return request;
    request.show = true;
    if (input.kind == ScopeHelpKind::Menu) {
        request.point = {input.mouse.x + 10, input.mouse.y + 10};
    } else {
        request.point = {input.control.left + (input.control.right - input.control.left) / 4,
                         input.control.top + (input.control.bottom - input.control.top) / 4};
        if (input.isToolbar)
            request.id = ScopeToolbarHelpId;
    }
    return request;
}

std::string ScopeHelpErrorText(HRESULT hr, const std::string &file, int id)
{
    char text[MAX_PATH + 100];
    snprintf(text, sizeof(text), "error %lX %s F1 id %d embedded 1d %d", static_cast<unsigned long>(hr), file.c_str(),
             id, id + ScopeHelpIdOffset);
    return text;
}

HRESULT CScopeHelpControl::ShowTopic(const std::string &file, int topic, POINT point)
{
    IUnknown *control = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_ScopeHelpControl, NULL, CLSCTX_INPROC_SERVER, IID_IScopeHelpControl,
                                  reinterpret_cast<void **>(&control));
    if (FAILED(hr))
        return hr;
    // The control's methods are its maker's; without its declaration the
    // request cannot be passed on.
    control->Release();
    return E_NOTIMPL;
}
