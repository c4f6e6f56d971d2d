#include "EventServerMethods.h"
#include "Guarded.h"
#include "EventSpace.h"
#include "SourceNames.h"
#include <cstdio>
#include <vector>

namespace aleron {
namespace {

// A task-memory copy of text, or null.
LPWSTR TaskString(const wchar_t *text)
{
    size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    LPWSTR copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (copy)
        memcpy(copy, text, bytes);
    return copy;
}

void FreeStrings(LPWSTR *array, DWORD count)
{
    if (!array)
        return;
    for (DWORD i = 0; i < count; ++i)
        CoTaskMemFree(array[i]);
    CoTaskMemFree(array);
}

// The names as a task-memory array of task-memory strings; nothing is left
// allocated on failure.
HRESULT TaskStrings(const std::vector<const wchar_t *> &names, LPWSTR **out)
{
    *out = nullptr;
    LPWSTR *array = static_cast<LPWSTR *>(CoTaskMemAlloc((names.size() ? names.size() : 1) * sizeof(LPWSTR)));
    if (!array)
        return E_OUTOFMEMORY;
    for (size_t i = 0; i < names.size(); ++i) {
        array[i] = TaskString(names[i]);
        if (!array[i]) {
            FreeStrings(array, DWORD(i));
            return E_OUTOFMEMORY;
        }
    }
    *out = array;
    return S_OK;
}

// The names and their count as the client receives them.
HRESULT ReturnNames(const std::vector<const wchar_t *> &list, DWORD *count, LPWSTR **names)
{
    HRESULT hr = TaskStrings(list, names);
    if (SUCCEEDED(hr))
        *count = DWORD(list.size());
    return hr;
}

// Clears whichever of the pointers are given.
template <class... P> void Clear(P *...pointers) { ((pointers ? (void)(*pointers = {}) : (void)0), ...); }

} // namespace

std::wstring FormatVendorText(const char *driverName, int major, int minor, int build)
{
    char text[256];
    snprintf(text, sizeof text, "%sOPCAE - Veltrane Inc. OPC Alarms & Events Server v%d.%d.%d", driverName, major,
             minor, build);
    return std::wstring(text, text + strlen(text));
}

HRESULT CEventServerMethods::GetStatus(OPCEVENTSERVERSTATUS **status)
{
    if (!status)
        return E_INVALIDARG;
    *status = nullptr;
    return Guarded([&]() -> HRESULT {
        auto *made = static_cast<OPCEVENTSERVERSTATUS *>(CoTaskMemAlloc(sizeof(OPCEVENTSERVERSTATUS)));
        if (!made)
            return E_OUTOFMEMORY;
        memset(made, 0, sizeof *made);
        made->szVendorInfo = TaskString(m_state->VendorText().c_str());
        if (!made->szVendorInfo) {
            CoTaskMemFree(made);
            return E_OUTOFMEMORY;
        }
        made->ftStartTime = m_state->StartTime();
        CoFileTimeNow(&made->ftCurrentTime);
        // Nothing here ever updates the server: the last update stays zero.
        made->dwServerState = m_state->ServerState();
        made->wMajorVersion = VersionMajor;
        made->wMinorVersion = VersionMinor;
        made->wBuildNumber = VersionBuild;
        *status = made;
        return S_OK;
    });
}

HRESULT CEventServerMethods::CreateEventSubscription(BOOL active, DWORD bufferTime, DWORD maxSize,
                                                     OPCHANDLE clientHandle, REFIID riid, LPUNKNOWN *result,
                                                     DWORD *revisedBufferTime, DWORD *revisedMaxSize)
{
    Clear(result, revisedBufferTime, revisedMaxSize);
    if (!result || !revisedBufferTime || !revisedMaxSize)
        return E_INVALIDARG;
    return Guarded([&] {
        return m_state->CreateSubscription(active, bufferTime, maxSize, clientHandle, riid, result,
                                           revisedBufferTime, revisedMaxSize);
    });
}

HRESULT CEventServerMethods::QueryAvailableFilters(DWORD *mask)
{
    if (!mask)
        return E_FAIL;
    *mask = AvailableFilters;
    return S_OK;
}

HRESULT CEventServerMethods::QueryEventCategories(DWORD eventType, DWORD *count, DWORD **ids,
                                                  LPWSTR **descriptions)
{
    Clear(count, ids, descriptions);
    if (eventType == 0 || !count || !ids || !descriptions)
        return E_INVALIDARG;
    return Guarded([&]() -> HRESULT {
        std::vector<DWORD> codes;
        std::vector<const wchar_t *> texts;
        for (DWORD i = 0; i < CategoryCount(); ++i)
            if (Categories()[i].eventTypes & eventType) {
                codes.push_back(Categories()[i].code);
                texts.push_back(Categories()[i].description);
            }
        if (codes.empty())
            return E_FAIL;
        DWORD *codeArray = static_cast<DWORD *>(CoTaskMemAlloc(codes.size() * sizeof(DWORD)));
        if (!codeArray)
            return E_OUTOFMEMORY;
        LPWSTR *textArray = nullptr;
        if (FAILED(TaskStrings(texts, &textArray))) {
            CoTaskMemFree(codeArray);
            return E_OUTOFMEMORY;
        }
        memcpy(codeArray, codes.data(), codes.size() * sizeof(DWORD));
        *count = DWORD(codes.size());
        *ids = codeArray;
        *descriptions = textArray;
        return S_OK;
    });
}

HRESULT CEventServerMethods::QueryConditionNames(DWORD category, DWORD *count, LPWSTR **names)
{
    Clear(count, names);
    if (!count || !names)
        return E_INVALIDARG;
    return Guarded([&]() -> HRESULT {
        const Category *found = FindCategory(category);
        if (!found)
            return E_FAIL;
        std::vector<const wchar_t *> list;
        for (const Condition *c = found->conditions; c != found->conditions + found->conditionCount; ++c)
            list.push_back(c->name);
        return ReturnNames(list, count, names);
    });
}

HRESULT CEventServerMethods::QuerySubConditionNames(LPWSTR condition, DWORD *count, LPWSTR **names)
{
    Clear(count, names);
    if (!condition || !count || !names)
        return E_INVALIDARG;
    return Guarded([&]() -> HRESULT {
        const Condition *found = FindCondition(condition);
        if (!found)
            return E_FAIL;
        std::vector<const wchar_t *> list;
        for (DWORD i = 0; i < found->subConditionCount; ++i)
            list.push_back(found->subConditions[i].name);
        return ReturnNames(list, count, names);
    });
}

HRESULT CEventServerMethods::QuerySourceConditions(LPWSTR source, DWORD *count, LPWSTR **names)
{
    Clear(count, names);
    if (!source || !count || !names)
        return E_INVALIDARG;
    return Guarded([&]() -> HRESULT {
        IDriver *driver = m_state->Driver();
        SourceKind kind = SourceDriver;
        LONG handle = -1;
        HRESULT found = FindSource(driver, StripAreaPrefix(source), &kind, &handle);
        if (driver)
            driver->Release();
        if (found != S_OK)
            return E_FAIL;
        std::vector<const wchar_t *> list = ConditionsForSourceKind(kind);
        if (list.empty())
            return E_FAIL;
        return ReturnNames(list, count, names);
    });
}

HRESULT CEventServerMethods::QueryEventAttributes(DWORD, DWORD *count, DWORD **ids, LPWSTR **descriptions,
                                                  VARTYPE **types)
{
    Clear(count, ids, descriptions, types);
    if (!count || !ids || !descriptions || !types)
        return E_INVALIDARG;
    // No category carries attributes.
    return S_OK;
}

HRESULT CEventServerMethods::TranslateToItemIDs(LPWSTR, DWORD, LPWSTR, LPWSTR, DWORD, DWORD *, LPWSTR **itemIds,
                                                LPWSTR **nodeNames, CLSID **clsids)
{
    Clear(itemIds, nodeNames, clsids);
    if (!itemIds || !nodeNames || !clsids)
        return E_INVALIDARG;
    return E_NOTIMPL;
}

HRESULT CEventServerMethods::GetConditionState(LPWSTR, LPWSTR, DWORD, DWORD *, OPCCONDITIONSTATE **state)
{
    Clear(state);
    if (!state)
        return E_INVALIDARG;
    return E_NOTIMPL;
}

HRESULT CEventServerMethods::SwitchByName(DWORD count, LPWSTR *names, bool areas, bool on)
{
    return Guarded([&] {
        IDriver *driver = m_state->Driver();
        HRESULT hr = ForEachName(count, names, areas ? SetAreaSendEvents : SetSourceSendEvents, driver, on);
        if (driver)
            driver->Release();
        return hr;
    });
}

HRESULT CEventServerMethods::EnableConditionByArea(DWORD count, LPWSTR *areas)
{
    return SwitchByName(count, areas, true, true);
}
HRESULT CEventServerMethods::EnableConditionBySource(DWORD count, LPWSTR *sources)
{
    return SwitchByName(count, sources, false, true);
}
HRESULT CEventServerMethods::DisableConditionByArea(DWORD count, LPWSTR *areas)
{
    return SwitchByName(count, areas, true, false);
}
HRESULT CEventServerMethods::DisableConditionBySource(DWORD count, LPWSTR *sources)
{
    return SwitchByName(count, sources, false, false);
}

HRESULT CEventServerMethods::AckCondition(DWORD count, LPWSTR, LPWSTR, LPWSTR *sources, LPWSTR *conditions,
                                          FILETIME *, DWORD *cookies, HRESULT **errors)
{
    // The errors pointer is written to: null is refused like the arrays.
    if (errors)
        *errors = nullptr;
    if (!sources || !conditions || !cookies || !errors)
        return E_INVALIDARG;
    return Guarded([&]() -> HRESULT {
        HRESULT *results = static_cast<HRESULT *>(CoTaskMemAlloc((count ? count : 1) * sizeof(HRESULT)));
        if (!results)
            return E_OUTOFMEMORY;
        // No condition ever needs acknowledging.
        for (DWORD i = 0; i < count; ++i)
            results[i] = S_OK;
        *errors = results;
        return S_OK;
    });
}

HRESULT CEventServerMethods::CreateAreaBrowser(REFIID riid, LPUNKNOWN *result)
{
    if (!result)
        return E_INVALIDARG;
    *result = nullptr;
    return Guarded([&] { return m_state->CreateBrowser(riid, result); });
}

} // namespace aleron
