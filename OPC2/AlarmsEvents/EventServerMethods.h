// IOPCEventServer's members over the fixed event space and the I/O server's
// configuration. What they need of the event server around them (its I/O
// server pointer, its state, its vendor text, the library's start time)
// comes through IEventServerState, so the members stand apart from the COM
// object that hands them out.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <string>
#include "OpcAe.h"
#include "QORDriver.h"

namespace aleron {

class IEventServerState {
public:
    virtual ~IEventServerState() {}
    // The I/O server, AddRef'd, or null when it could not be created.
    virtual IDriver *Driver() = 0;
    virtual OPCEVENTSERVERSTATE ServerState() = 0;
    virtual FILETIME StartTime() = 0;
    virtual const std::wstring &VendorText() = 0;
    // Makes a subscription or an area browser.
    virtual HRESULT CreateSubscription(BOOL active, DWORD bufferTime, DWORD maxSize, OPCHANDLE clientHandle,
                                       REFIID riid, IUnknown **result, DWORD *revisedBufferTime,
                                       DWORD *revisedMaxSize) = 0;
    virtual HRESULT CreateBrowser(REFIID riid, IUnknown **result) = 0;
};

// The vendor text: "%sOPCAE - Veltrane Inc. OPC Alarms & Events Server v%d.%d.%d".
std::wstring FormatVendorText(const char *driverName, int major, int minor, int build);

enum { VersionMajor = 7, VersionMinor = 20, VersionBuild = 1, AvailableFilters = 26 };

// The sixteen members. Each catches what escapes and answers E_FAIL,
// freeing what it had built.
class CEventServerMethods {
public:
    explicit CEventServerMethods(IEventServerState *state) : m_state(state) {}

    HRESULT GetStatus(OPCEVENTSERVERSTATUS **status);
    HRESULT CreateEventSubscription(BOOL active, DWORD bufferTime, DWORD maxSize, OPCHANDLE clientHandle,
                                    REFIID riid, LPUNKNOWN *result, DWORD *revisedBufferTime,
                                    DWORD *revisedMaxSize);
    HRESULT QueryAvailableFilters(DWORD *mask);
    HRESULT QueryEventCategories(DWORD eventType, DWORD *count, DWORD **ids, LPWSTR **descriptions);
    HRESULT QueryConditionNames(DWORD category, DWORD *count, LPWSTR **names);
    HRESULT QuerySubConditionNames(LPWSTR condition, DWORD *count, LPWSTR **names);
    HRESULT QuerySourceConditions(LPWSTR source, DWORD *count, LPWSTR **names);
    HRESULT QueryEventAttributes(DWORD category, DWORD *count, DWORD **ids, LPWSTR **descriptions,
                                 VARTYPE **types);
    HRESULT TranslateToItemIDs(LPWSTR source, DWORD category, LPWSTR condition, LPWSTR subCondition, DWORD count,
                               DWORD *attributeIds, LPWSTR **itemIds, LPWSTR **nodeNames, CLSID **clsids);
    HRESULT GetConditionState(LPWSTR source, LPWSTR condition, DWORD attributeCount, DWORD *attributeIds,
                              OPCCONDITIONSTATE **state);
    HRESULT EnableConditionByArea(DWORD count, LPWSTR *areas);
    HRESULT EnableConditionBySource(DWORD count, LPWSTR *sources);
    HRESULT DisableConditionByArea(DWORD count, LPWSTR *areas);
    HRESULT DisableConditionBySource(DWORD count, LPWSTR *sources);
    HRESULT AckCondition(DWORD count, LPWSTR acknowledger, LPWSTR comment, LPWSTR *sources, LPWSTR *conditions,
                         FILETIME *activeTimes, DWORD *cookies, HRESULT **errors);
    HRESULT CreateAreaBrowser(REFIID riid, LPUNKNOWN *result);

private:
    HRESULT SwitchByName(DWORD count, LPWSTR *names, bool areas, bool on);

    IEventServerState *m_state;
};

} // namespace aleron
