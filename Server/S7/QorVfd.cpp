#include "QorVfd.h"
#include "S7Lock.h"
#include "S7Library.h"
#include "XAction.h"
#include "s732.h"
#include <new>

namespace {

volatile LONG g_liveObjects;

} // namespace

LONG CQORVFD::LiveObjects() { return g_liveObjects; }

// ---- CQORCONN ------------------------------------------------------------------

CQORCONN::CQORCONN(CQORVFD *vfd, const char *connName, bool temporary)
    : m_vfd(vfd), m_name(connName ? connName : ""), m_temporary(temporary)
{
    InitializeCriticalSection(&m_lock);
    InterlockedIncrement(&g_liveObjects);
}

CQORCONN::~CQORCONN()
{
    if (m_state == Connected && !m_temporary) {
        S7ErrorRecord error;
        Abort(&error);
    }
    DeleteCriticalSection(&m_lock);
    InterlockedDecrement(&g_liveObjects);
}

HRESULT CQORCONN::Preconditions() const
{
    if (!m_vfd)
        return QOR_E_NO_VFD;
    return S_OK;
}

LONGLONG CQORCONN::Now() const
{
    if (m_vfd && m_vfd->GetFrequency()) {
        LARGE_INTEGER c;
        QueryPerformanceCounter(&c);
        return c.QuadPart;
    }
    return static_cast<LONGLONG>(GetTickCount());
}

void CQORCONN::SetReference(DWORD connRef)
{
    Locked lock(&m_lock);
    m_connRef = connRef;
    m_refKnown = true;
}

HRESULT CQORCONN::LookUpReference(S7ErrorRecord *error)
{
    Locked lock(&m_lock);
    if (!m_vfd)
        return QOR_E_NO_VFD;
    if (m_refKnown)
        return QOR_E_HAS_REFERENCE;
    DWORD ref = 0;
    HRESULT hr = QORGetRefForConn(m_vfd->GetDescriptor(), m_name.c_str(), &ref, error);
    if (SUCCEEDED(hr)) {
        m_connRef = ref;
        m_refKnown = true;
    }
    return hr;
}

HRESULT CQORCONN::Initiate(S7ErrorRecord *error)
{
    Locked lock(&m_lock);
    if (!m_vfd)
        return QOR_E_NO_VFD;
    if (!m_refKnown)
        return QOR_E_NO_REFERENCE;
    if (m_state == Connected)
        return QOR_E_CONNECTED;
    HRESULT hr = QORInitiateConnReq(m_vfd->GetDescriptor(), m_connRef, error);
    InterlockedExchange(&m_state, SUCCEEDED(hr) ? LONG(Connecting) : LONG(InitiateFailed));
    return hr;
}

HRESULT CQORCONN::InitiateConfirmation(S7ErrorRecord *error)
{
    Locked lock(&m_lock);
    if (!m_vfd)
        return QOR_E_NO_VFD;
    HRESULT hr = QORGetInitiateConnCnf(m_vfd->GetDescriptor(), error);
    if (SUCCEEDED(hr)) {
        InterlockedExchange(&m_state, Connected);
        m_connected = true;
    } else {
        InterlockedExchange(&m_state, Aborted);
    }
    return hr;
}

HRESULT CQORCONN::Abort(S7ErrorRecord *error)
{
    Locked lock(&m_lock);
    if (!m_vfd)
        return QOR_E_NO_VFD;
    if (!m_refKnown)
        return QOR_E_NO_REFERENCE;
    if (m_state != Connected && m_state != Connecting && !m_temporary)
        return QOR_E_NOT_CONNECTED;
    HRESULT hr = QORAbortConnection(m_vfd->GetDescriptor(), m_connRef, error);
    InterlockedExchange(&m_state, (SUCCEEDED(hr) || hr == QOR_E_S7_LIBRARY) ? LONG(Disconnected) : LONG(Aborted));
    m_connected = false;
    return hr;
}

HRESULT CQORCONN::AbortIndication(S7ErrorRecord *error)
{
    Locked lock(&m_lock);
    if (!m_vfd)
        return QOR_E_NO_VFD;
    HRESULT hr = QORGetAbortInd(m_vfd->GetDescriptor(), error);
    InterlockedExchange(&m_state, (SUCCEEDED(hr) || hr == QOR_E_S7_LIBRARY) ? LONG(Disconnected) : LONG(Aborted));
    m_connected = false;
    return hr;
}

HRESULT CQORCONN::Send(CXAction *request, S7ErrorRecord *error)
{
    Locked lock(&m_lock);
    if (!m_vfd)
        return QOR_E_NO_VFD;
    if (!request)
        return E_INVALIDARG;
    if (!m_refKnown)
        return QOR_E_NO_REFERENCE;
    if (m_state != Connected)
        return QOR_E_NOT_CONNECTED;
    switch (request->GetDirection()) {
    case CXAction::DirectionRead:
        return Read(request, error);
    case CXAction::DirectionWrite:
        return Write(request, error);
    default:
        return E_FAIL;
    }
}

HRESULT CQORCONN::Read(CXAction *request, S7ErrorRecord *error)
{
    request->SetSendTime(Now());
    return QORReadRequest(m_vfd->GetDescriptor(), m_connRef, request->GetOrderId(), request->GetVariableText(), error);
}

HRESULT CQORCONN::Write(CXAction *request, S7ErrorRecord *error)
{
    request->SetSendTime(Now());
    return QORWriteRequest(m_vfd->GetDescriptor(), m_connRef, request->GetOrderId(), request->GetVariableText(),
                           request->GetWriteData(), request->GetWriteLength(), error);
}

HRESULT CQORCONN::ReadConfirmation(CXAction *request, S7ErrorRecord *error)
{
    Locked lock(&m_lock);
    if (!m_vfd)
        return QOR_E_NO_VFD;
    BYTE buffer[QOR_READ_CNF_BUFFER];
    WORD length = 0;
    HRESULT hr = QORGetReadCnfWithData(m_vfd->GetDescriptor(), buffer, &length, error);
    if (request) {
        LONGLONG now = Now();
        LONGLONG frequency = m_vfd->GetFrequency();
        LONGLONG elapsed = now - request->GetSendTime();
        request->SetRoundTrip(frequency ? elapsed * 1000000 / frequency : elapsed);
        if (SUCCEEDED(hr))
            request->SetReceivedData(buffer, length > DWORD(CXAction::DataSize) ? DWORD(CXAction::DataSize) : length);
        if (error)
            request->StoreError(*error);
    }
    return hr;
}

HRESULT CQORCONN::WriteConfirmation(CXAction *request, S7ErrorRecord *error)
{
    Locked lock(&m_lock);
    if (!m_vfd)
        return QOR_E_NO_VFD;
    HRESULT hr = QORGetWriteCnf(m_vfd->GetDescriptor(), error);
    if (request && error)
        request->StoreError(*error);
    return hr;
}

HRESULT CQORCONN::MultipleWriteConfirmation(CXAction *request, S7ErrorRecord *error)
{
    Locked lock(&m_lock);
    if (!m_vfd)
        return QOR_E_NO_VFD;
    WORD results[64];
    WORD count = 0;
    HRESULT hr = QORGetMultipleWriteCnf(m_vfd->GetDescriptor(), results, 64, &count, error);
    if (request && error)
        request->StoreError(*error);
    return hr;
}

// ---- CQORVFD -------------------------------------------------------------------

CQORVFD::CQORVFD()
{
    InitializeCriticalSection(&m_lock);
    InitializeCriticalSection(&m_listLock);
    m_frequency = S7PerformanceFrequency();
    m_frequencyValid = m_frequency != 0;
    InterlockedIncrement(&g_liveObjects);
}

CQORVFD::~CQORVFD()
{
    if (m_open) {
        S7ErrorRecord error;
        Close(&error);
    }
    DeleteCriticalSection(&m_listLock);
    DeleteCriticalSection(&m_lock);
    InterlockedDecrement(&g_liveObjects);
}

HRESULT CQORVFD::Open(const char *cpName, const char *vfdName, S7ErrorRecord *error)
{
    Locked lock(&m_lock);
    if (m_open)
        return QOR_E_VFD_OPEN;
    DWORD descriptor = 0;
    HRESULT hr = QOROpenCpVfd(cpName, vfdName, &descriptor, error);
    if (FAILED(hr))
        return hr;
    m_cpName = cpName;
    m_vfdName = vfdName;
    m_descriptor = descriptor;
    InterlockedExchange(&m_open, 1);
    return S_OK;
}

HRESULT CQORVFD::Close(S7ErrorRecord *error)
{
    Locked lock(&m_lock);
    if (!m_open)
        return QOR_E_VFD_NOT_OPEN;
    HRESULT hr = QORShutCpVfd(m_descriptor, error);
    if (SUCCEEDED(hr)) {
        m_descriptor = static_cast<DWORD>(-1);
        InterlockedExchange(&m_open, 0);
    }
    return hr;
}

HRESULT CQORVFD::Receive(DWORD *connRef, WORD *orderId, int *eventCode, S7ErrorRecord *error)
{
    Locked lock(&m_lock);
    if (!m_open)
        return QOR_E_VFD_NOT_OPEN;
    HRESULT hr = QORReceiveFromSapi(m_descriptor, connRef, orderId, eventCode, error);
    if (SUCCEEDED(hr) && *eventCode == S7_NO_EVENT)
        return QOR_S7_NO_EVENT;
    return hr;
}

HRESULT CQORVFD::SetWindowMessage(HWND window, UINT message, S7ErrorRecord *error)
{
    Locked lock(&m_lock);
    if (!m_open)
        return QOR_E_VFD_NOT_OPEN;
    return QORSetWindowMessage(m_descriptor, window, message, error);
}

HRESULT CQORVFD::HandleEvent(DWORD connRef, WORD orderId, int eventCode, S7ErrorRecord *error, IS7EventTarget *target)
{
    Locked lock(&m_lock);
    if (!m_open)
        return QOR_E_VFD_NOT_OPEN;
    switch (eventCode) {
    case S7_NO_EVENT:
        return QOR_S7_NO_EVENT;
    case S7_EVENT_NOTICE:
        QORDiscardEvent(m_descriptor, error);
        return QOR_S7_DISCARDED;
    case S7_EVENT_VFD_STATE:
        QORDiscardEvent(m_descriptor, error);
        return QOR_S7_VFD_STATE;
    case S7_EVENT_BAD_PARAMETER:
        return QOR_S7_CNF_ERROR;
    case S7_EVENT_BAD_DESCRIPTOR:
        return QOR_S7_RECEIVE_FAILED;
    case S7_EVENT_INITIATE_CNF:
    case S7_EVENT_ABORT_IND:
    case S7_EVENT_READ_CNF:
    case S7_EVENT_WRITE_CNF:
    case S7_EVENT_MULT_WRITE_CNF:
        break;
    default:
        QORDiscardEvent(m_descriptor, error);
        return QOR_S7_OTHER_DISCARDED;
    }

    if (!target) {
        // Take the event into a throw-away connection object so that the
        // library's current event is consumed by its own getter.
        CQORCONN *temp = new (std::nothrow) CQORCONN(this, "", true);
        if (!temp) {
            QORDiscardEvent(m_descriptor, error);
            return E_FAIL;
        }
        temp->SetReference(connRef);
        switch (eventCode) {
        case S7_EVENT_INITIATE_CNF: temp->InitiateConfirmation(error); break;
        case S7_EVENT_ABORT_IND: temp->AbortIndication(error); break;
        case S7_EVENT_READ_CNF: temp->ReadConfirmation(nullptr, error); break;
        case S7_EVENT_WRITE_CNF: temp->WriteConfirmation(nullptr, error); break;
        default: temp->MultipleWriteConfirmation(nullptr, error); break;
        }
        delete temp;
        return E_FAIL;
    }

    CQORCONN *conn = target->GetConnection();
    CXAction *request = target->GetCurrentRequest();
    bool matching = request && request->GetOrderId() == orderId;
    HRESULT hr;
    switch (eventCode) {
    case S7_EVENT_INITIATE_CNF:
        return SUCCEEDED(conn->InitiateConfirmation(error)) ? QOR_S7_CONNECTED : QOR_S7_CNF_ERROR;
    case S7_EVENT_ABORT_IND:
        conn->AbortIndication(error);
        return QOR_S7_ABORTED;
    case S7_EVENT_READ_CNF:
        hr = conn->ReadConfirmation(matching ? request : nullptr, error);
        if (!matching)
            return QOR_S7_STALE_READ;
        return SUCCEEDED(hr) ? QOR_S7_READ_DONE : QOR_S7_CNF_ERROR;
    case S7_EVENT_WRITE_CNF:
        hr = conn->WriteConfirmation(matching ? request : nullptr, error);
        if (!matching)
            return E_FAIL;
        return SUCCEEDED(hr) ? QOR_S7_WRITE_DONE : QOR_S7_CNF_ERROR;
    default:
        hr = conn->MultipleWriteConfirmation(matching ? request : nullptr, error);
        if (!matching)
            return E_FAIL;
        return SUCCEEDED(hr) ? QOR_S7_MULT_WRITE_DONE : QOR_S7_CNF_ERROR;
    }
}
