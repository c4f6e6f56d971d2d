#include "ScopeHelp.h"
#include "ContextHelpClass.h"
#include <cstdio>

const char ScopeHelpFile[] = "QORf1.chm";
std::string FindScopeHelpFile(IScopeHelpLocator &locator) { return FindInstalledHelpFile(locator, ScopeHelpFile); }

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
    IContextHelpPopup *control = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_ContextHelpPopup, NULL, CLSCTX_INPROC_SERVER, IID_IContextHelpPopup,
                                  reinterpret_cast<void **>(&control));
    if (FAILED(hr))
        return hr;
    const int length = MultiByteToWideChar(CP_ACP, 0, file.c_str(), -1, NULL, 0);
    BSTR path = SysAllocStringLen(NULL, length > 0 ? length - 1 : 0);
    if (path && length > 0)
        MultiByteToWideChar(CP_ACP, 0, file.c_str(), -1, path, length);
    hr = path ? control->ShowHelpId(topic, path, point.x, point.y) : E_OUTOFMEMORY;
    SysFreeString(path);
    control->Release();
    return hr;
}
