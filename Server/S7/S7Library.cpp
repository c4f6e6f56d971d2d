#include "S7Library.h"
#include "s732.h"
#include "ServerMsg.h"
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

namespace {

struct S7Api {
    S7_OPEN open;
    S7_SHUT shut;
    S7_GET_CONNECTION getConnection;
    S7_GET_CREF getCref;
    S7_INITIATE initiate;
    S7_GET_INITIATE_CNF getInitiateCnf;
    S7_ABORT abort;
    S7_GET_ABORT_IND getAbortInd;
    S7_RECEIVE receive;
    S7_DISCARD discard;
    S7_READ read;
    S7_GET_READ_CNF getReadCnf;
    S7_WRITE write;
    S7_GET_WRITE_CNF getWriteCnf;
    S7_GET_MULT_WRITE_CNF getMultWriteCnf;
    S7_GET_CP getCp;
    S7_GET_VFD getVfd;
    S7_SET_WINDOW setWindow;
    S7_ERR_TEXT errText1;
    S7_ERR_NUMBER errNo1;
    S7_ERR_TEXT errText2;
    S7_ERR_NUMBER errClass;
    S7_MINI_DB_SET miniDbSet;
};

std::mutex g_bindLock;
S7Api g_api;
bool g_bound;

template <typename F> bool Bind(HMODULE module, F *slot, int ordinal)
{
    *slot = reinterpret_cast<F>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal)));
    return *slot != nullptr;
}

bool BindAll(HMODULE m, S7Api *a)
{
    return Bind(m, &a->open, S7_ORD_OPEN) && Bind(m, &a->shut, S7_ORD_SHUT) &&
           Bind(m, &a->getConnection, S7_ORD_GET_CONNECTION) && Bind(m, &a->getCref, S7_ORD_GET_CREF) &&
           Bind(m, &a->initiate, S7_ORD_INITIATE) && Bind(m, &a->getInitiateCnf, S7_ORD_GET_INITIATE_CNF) &&
           Bind(m, &a->abort, S7_ORD_ABORT) && Bind(m, &a->getAbortInd, S7_ORD_GET_ABORT_IND) &&
           Bind(m, &a->receive, S7_ORD_RECEIVE) && Bind(m, &a->discard, S7_ORD_DISCARD) &&
           Bind(m, &a->read, S7_ORD_READ) && Bind(m, &a->getReadCnf, S7_ORD_GET_READ_CNF) &&
           Bind(m, &a->write, S7_ORD_WRITE) && Bind(m, &a->getWriteCnf, S7_ORD_GET_WRITE_CNF) &&
           Bind(m, &a->getMultWriteCnf, S7_ORD_GET_MULT_WRITE_CNF) && Bind(m, &a->getCp, S7_ORD_GET_CP) &&
           Bind(m, &a->getVfd, S7_ORD_GET_VFD) && Bind(m, &a->setWindow, S7_ORD_SET_WINDOW) &&
           Bind(m, &a->errText1, S7_ORD_ERR_TEXT1) && Bind(m, &a->errNo1, S7_ORD_ERR_NO1) &&
           Bind(m, &a->errText2, S7_ORD_ERR_TEXT2) && Bind(m, &a->errClass, S7_ORD_ERR_CLASS) &&
           Bind(m, &a->miniDbSet, S7_ORD_MINI_DB_SET);
}

const S7Api *Api()
{
    std::lock_guard<std::mutex> lock(g_bindLock);
    if (!g_bound) {
        HMODULE m = LoadLibraryA("s732.dll");
        S7Api api{};
        if (m && BindAll(m, &api)) {
            g_api = api;
            g_bound = true;
        }
    }
    return g_bound ? &g_api : nullptr;
}

// Guards open, close and connection enumeration across all VFDs.
std::recursive_mutex &CatalogueLock()
{
    static std::recursive_mutex lock;
    return lock;
}

void FillFromLibrary(S7ErrorRecord *error, DWORD code, const S7Api &api)
{
    if (!error)
        return;
    error->returnCode = code;
    error->errorNumber = api.errNo1();
    error->errorClass = api.errClass();
    const char *t1 = api.errText1();
    const char *t2 = api.errText2();
    lstrcpynA(error->errorText, t1 ? t1 : "", sizeof(error->errorText));
    lstrcpynA(error->detailText, t2 ? t2 : "", sizeof(error->detailText));
}

// One library call: clear, call, and on failure fill the record and name the
// wrapper in the debug output.
template <typename F> HRESULT Call(const char *failText, S7ErrorRecord *error, F &&call)
{
    ClearS7ErrorRecord(error);
    const S7Api *api = Api();
    if (!api) {
        if (error) {
            error->returnCode = static_cast<DWORD>(S7LIB_ERR);
            lstrcpynA(error->errorText, "s732.dll is not available", sizeof(error->errorText));
        }
        S7DebugOutput("%s\n", failText);
        return QOR_E_S7_LIBRARY;
    }
    int result = call(*api);
    if (result == S7LIB_OK)
        return S_OK;
    FillFromLibrary(error, static_cast<DWORD>(result), *api);
    S7DebugOutput("%s\n", failText);
    LogMessage(SeverityDebug1, "%s: %s", failText, api->errText1() ? api->errText1() : "");
    return QOR_E_S7_LIBRARY;
}

bool Fits(const char *text, size_t max) { return text && strlen(text) <= max; }

std::string OpenFailText()
{
    char text[256];
    if (LoadStringA(GetModuleHandleA(nullptr), 101, text, sizeof(text)) > 0)
        return text;
    return "Error QOROpenCpVfd";
}

} // namespace

bool LoadS7Library(const char *path)
{
    if (path) {
        std::lock_guard<std::mutex> lock(g_bindLock);
        if (!g_bound) {
            HMODULE m = LoadLibraryA(path);
            S7Api api{};
            if (m && BindAll(m, &api)) {
                g_api = api;
                g_bound = true;
            }
        }
    }
    return Api() != nullptr;
}

HRESULT QOROpenCpVfd(const char *cpName, const char *vfdName, DWORD *cpDescriptor, S7ErrorRecord *error)
{
    if (!Fits(cpName, S7_CP_NAME_MAX) || !Fits(vfdName, S7_VFD_NAME_MAX) || !cpDescriptor)
        return E_INVALIDARG;
    std::lock_guard<std::recursive_mutex> lock(CatalogueLock());
    std::string text = OpenFailText();
    return Call(text.c_str(), error, [&](const S7Api &a) { return a.open(cpName, vfdName, cpDescriptor); });
}

HRESULT QORShutCpVfd(DWORD cpDescriptor, S7ErrorRecord *error)
{
    std::lock_guard<std::recursive_mutex> lock(CatalogueLock());
    return Call("Error QORShutCpVfd", error, [&](const S7Api &a) { return a.shut(cpDescriptor); });
}

HRESULT QORGetConnByIndex(DWORD cpDescriptor, WORD index, WORD *count, DWORD *connRef, char *connName,
                          S7ErrorRecord *error)
{
    if (!count || !connRef || !connName)
        return E_INVALIDARG;
    std::lock_guard<std::recursive_mutex> lock(CatalogueLock());
    return Call("Error QORGetConnByIndex", error,
                [&](const S7Api &a) { return a.getConnection(cpDescriptor, index, count, connRef, connName); });
}

HRESULT QORGetRefForConn(DWORD cpDescriptor, const char *connName, DWORD *connRef, S7ErrorRecord *error)
{
    if (!connName || !connRef)
        return E_INVALIDARG;
    return Call("Error QORGetRefForConn", error,
                [&](const S7Api &a) { return a.getCref(cpDescriptor, connName, connRef); });
}

namespace {
std::string ForRef(const char *failText, DWORD connRef)
{
    char text[96];
    snprintf(text, sizeof(text), "%s for nConnRef=%d", failText, static_cast<int>(connRef));
    return text;
}
} // namespace

HRESULT QORInitiateConnReq(DWORD cpDescriptor, DWORD connRef, S7ErrorRecord *error)
{
    return Call(ForRef("Error QORInitiateConnReq", connRef).c_str(), error,
                [&](const S7Api &a) { return a.initiate(cpDescriptor, connRef); });
}

HRESULT QORGetInitiateConnCnf(DWORD cpDescriptor, S7ErrorRecord *error)
{
    return Call("Error QORGetInitiateConnCnf", error, [&](const S7Api &a) { return a.getInitiateCnf(cpDescriptor); });
}

HRESULT QORAbortConnection(DWORD cpDescriptor, DWORD connRef, S7ErrorRecord *error)
{
    return Call(ForRef("Error QORAbortConnection", connRef).c_str(), error,
                [&](const S7Api &a) { return a.abort(cpDescriptor, connRef); });
}

HRESULT QORGetAbortInd(DWORD cpDescriptor, S7ErrorRecord *error)
{
    return Call("Error QORGetAbortInd", error, [&](const S7Api &a) { return a.getAbortInd(cpDescriptor); });
}

HRESULT QORReceiveFromSapi(DWORD cpDescriptor, DWORD *connRef, WORD *orderId, int *eventCode, S7ErrorRecord *error)
{
    if (!connRef || !orderId || !eventCode)
        return E_INVALIDARG;
    return Call("Error QORReceiveFromSapi", error, [&](const S7Api &a) {
        *eventCode = a.receive(cpDescriptor, connRef, orderId);
        return (*eventCode == S7_EVENT_BAD_DESCRIPTOR || *eventCode == S7_EVENT_BAD_PARAMETER) ? *eventCode
                                                                                              : S7LIB_OK;
    });
}

HRESULT QORDiscardEvent(DWORD cpDescriptor, S7ErrorRecord *error)
{
    return Call("Error QORDiscardEvent", error, [&](const S7Api &a) { return a.discard(cpDescriptor); });
}

HRESULT QORReadRequest(DWORD cpDescriptor, DWORD connRef, WORD orderId, const char *varText, S7ErrorRecord *error)
{
    if (!Fits(varText, S7_VAR_TEXT_MAX))
        return E_INVALIDARG;
    S7ReadPara para{};
    para.access = S7_ACCESS_SYMB_ADDRESS;
    memcpy(para.var_name, varText, strlen(varText));
    return Call("Error QORReadRequest", error,
                [&](const S7Api &a) { return a.read(cpDescriptor, connRef, orderId, &para); });
}

HRESULT QORGetReadCnfWithData(DWORD cpDescriptor, void *buffer, WORD *length, S7ErrorRecord *error)
{
    if (!buffer || !length)
        return E_INVALIDARG;
    *length = 0;
    return Call("Error QORGetReadCnfWithData", error,
                [&](const S7Api &a) { return a.getReadCnf(cpDescriptor, buffer, QOR_READ_CNF_BUFFER, length); });
}

HRESULT QORWriteRequest(DWORD cpDescriptor, DWORD connRef, WORD orderId, const char *varText, const void *data,
                        DWORD length, S7ErrorRecord *error)
{
    if (!Fits(varText, S7_VAR_TEXT_MAX) || length > S7_WRITE_DATA_MAX || (length && !data))
        return E_INVALIDARG;
    S7WritePara para{};
    para.access = S7_ACCESS_SYMB_ADDRESS;
    memcpy(para.var_name, varText, strlen(varText));
    para.var_length = static_cast<uint16_t>(length);
    if (length)
        memcpy(para.value, data, length);
    return Call("Error QORWriteRequest", error,
                [&](const S7Api &a) { return a.write(cpDescriptor, connRef, orderId, &para); });
}

HRESULT QORGetWriteCnf(DWORD cpDescriptor, S7ErrorRecord *error)
{
    return Call("Error QORGetWriteCnf", error, [&](const S7Api &a) { return a.getWriteCnf(cpDescriptor); });
}

HRESULT QORGetMultipleWriteCnf(DWORD cpDescriptor, WORD *results, WORD capacity, WORD *count, S7ErrorRecord *error)
{
    if (!results || !count)
        return E_INVALIDARG;
    return Call("Error QORGetMultipleWriteCnf", error,
                [&](const S7Api &a) { return a.getMultWriteCnf(cpDescriptor, results, capacity, count); });
}

HRESULT QORGetCpByIndex(WORD index, WORD *count, char *cpName, S7ErrorRecord *error)
{
    if (!count || !cpName)
        return E_INVALIDARG;
    return Call("Error QORGetCpByIndex", error, [&](const S7Api &a) { return a.getCp(index, count, cpName); });
}

HRESULT QORGetVfdByIndex(const char *cpName, WORD index, WORD *count, char *vfdName, S7ErrorRecord *error)
{
    if (!cpName || !count || !vfdName)
        return E_INVALIDARG;
    return Call("Error QORGetVfdByIndex", error,
                [&](const S7Api &a) { return a.getVfd(cpName, index, count, vfdName); });
}

HRESULT QORSetWindowMessage(DWORD cpDescriptor, HWND window, UINT message, S7ErrorRecord *error)
{
    return Call("Error QORSetWindowMessage", error,
                [&](const S7Api &a) { return a.setWindow(cpDescriptor, window, message); });
}

HRESULT QORMiniDbSet(WORD item, const char *value, S7ErrorRecord *error)
{
    if (!value)
        return E_INVALIDARG;
    return Call("Error QORMiniDbSet", error, [&](const S7Api &a) { return a.miniDbSet(item, value); });
}

std::string FormatS7AbortTimeout(DWORD sapiTimeoutMs)
{
    if (sapiTimeoutMs < 1000)
        sapiTimeoutMs = 1000;
    char text[20];
    snprintf(text, sizeof(text), "%lu", static_cast<unsigned long>(sapiTimeoutMs / 51 + 1));
    return text;
}

HRESULT SetS7AbortTimeout(DWORD sapiTimeoutMs, S7ErrorRecord *error)
{
    return QORMiniDbSet(S7_MINI_DB_ABORT_TIMEOUT, FormatS7AbortTimeout(sapiTimeoutMs).c_str(), error);
}

// ---- enumerations -----------------------------------------------------------

namespace {

// Walks index 0, 1, ... until the count the library reports; the fetch
// answers the library's result and the count.
template <typename Fetch> HRESULT Walk(HRESULT *libraryCode, Fetch &&fetch)
{
    if (libraryCode)
        *libraryCode = S_OK;
    WORD count = 1;
    for (WORD index = 0; index < count; ++index) {
        S7ErrorRecord error;
        HRESULT hr = fetch(index, &count, &error);
        // An empty list reports a count of 0 and fails index 0.
        if (FAILED(hr) && count == 0)
            return S_OK;
        if (FAILED(hr)) {
            if (libraryCode)
                *libraryCode = hr;
            return E_FAIL;
        }
    }
    return S_OK;
}

} // namespace

namespace {

// Fills the list's rows by index; a failure deletes the list.
template <typename List, typename Fetch> HRESULT Fill(List **list, HRESULT *libraryCode, Fetch &&fetch)
{
    HRESULT hr = Walk(libraryCode, [&](WORD index, WORD *count, S7ErrorRecord *error) {
        typename decltype((*list)->rows)::value_type row{};
        row.index = index;
        HRESULT r = fetch(index, count, row.name, error);
        if (SUCCEEDED(r))
            (*list)->rows.push_back(row);
        return r;
    });
    if (FAILED(hr)) {
        delete *list;
        *list = nullptr;
    }
    return hr;
}

} // namespace

HRESULT QOREnumerateCps(S7CpList **list, HRESULT *libraryCode)
{
    if (!list)
        return E_INVALIDARG;
    *list = new (std::nothrow) S7CpList;
    if (!*list)
        return E_OUTOFMEMORY;
    return Fill(list, libraryCode, QORGetCpByIndex);
}

HRESULT QOREnumerateVfds(const char *cpName, S7VfdList **list, HRESULT *libraryCode)
{
    if (!list || !Fits(cpName, S7_CP_NAME_MAX))
        return E_INVALIDARG;
    *list = new (std::nothrow) S7VfdList{};
    if (!*list)
        return E_OUTOFMEMORY;
    lstrcpynA((*list)->cpName, cpName, sizeof((*list)->cpName));
    return Fill(list, libraryCode, [&](WORD index, WORD *count, char *name, S7ErrorRecord *error) {
        return QORGetVfdByIndex(cpName, index, count, name, error);
    });
}

HRESULT QOREnumerateConnections(const char *cpName, const char *vfdName, S7ConnList **list, HRESULT *libraryCode)
{
    if (!list || !Fits(cpName, S7_CP_NAME_MAX) || !Fits(vfdName, S7_VFD_NAME_MAX))
        return E_INVALIDARG;
    std::lock_guard<std::recursive_mutex> lock(CatalogueLock());
    if (libraryCode)
        *libraryCode = S_OK;
    DWORD descriptor = 0;
    S7ErrorRecord error;
    HRESULT hr = QOROpenCpVfd(cpName, vfdName, &descriptor, &error);
    if (FAILED(hr)) {
        if (libraryCode)
            *libraryCode = hr;
        *list = nullptr;
        return E_FAIL;
    }
    *list = new (std::nothrow) S7ConnList{};
    if (!*list) {
        QORShutCpVfd(descriptor, &error);
        return E_OUTOFMEMORY;
    }
    lstrcpynA((*list)->cpName, cpName, sizeof((*list)->cpName));
    lstrcpynA((*list)->vfdName, vfdName, sizeof((*list)->vfdName));
    hr = Fill(list, libraryCode, [&](WORD index, WORD *count, char *name, S7ErrorRecord *rec) {
        DWORD ref = 0;
        return QORGetConnByIndex(descriptor, index, count, &ref, name, rec);
    });
    QORShutCpVfd(descriptor, &error);
    return hr;
}

namespace {
template <typename T> HRESULT Free(T *list)
{
    try {
        delete list;
        return S_OK;
    } catch (...) {
        return QOR_E_S7_FREE;
    }
}
} // namespace

HRESULT QORFreeCpList(S7CpList *list) { return Free(list); }
HRESULT QORFreeVfdList(S7VfdList *list) { return Free(list); }
HRESULT QORFreeConnList(S7ConnList *list) { return Free(list); }
