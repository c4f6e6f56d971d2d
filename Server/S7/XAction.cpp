#include "XAction.h"
#include "ServerMsg.h"
#include <cstring>

LONGLONG S7PerformanceFrequency()
{
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        return QueryPerformanceFrequency(&f) ? f.QuadPart : 0;
    }();
    return frequency;
}

CXAction::CXAction() = default;
CXAction::~CXAction() = default;

bool CXAction::SetConnectionReference(DWORD connRef)
{
    if (!IsNew())
        return false;
    m_connRef = connRef;
    m_connRefKnown = true;
    return true;
}

bool CXAction::SetConnectionName(const char *name)
{
    if (!IsNew() || !name || strlen(name) > VarTextSize)
        return false;
    strcpy(m_connName, name);
    m_connNameKnown = true;
    return true;
}

bool CXAction::SetCompletionValue(LONG value)
{
    if (!IsNew())
        return false;
    m_completionValue = value;
    m_completionKnown = true;
    return true;
}

bool CXAction::SetErrorRecord(const S7ErrorRecord &record)
{
    if (!IsNew())
        return false;
    m_error = record;
    return true;
}

bool CXAction::SetRetries(LONG retries)
{
    if (!IsNew() || retries < 0)
        return false;
    m_retries = retries;
    return true;
}

bool CXAction::SetTimeout(DWORD timeoutMs)
{
    if (!IsNew())
        return false;
    m_timeoutMs = timeoutMs;
    return true;
}

void CXAction::Complete(LONG state, LONG subStatus)
{
    LONGLONG frequency = S7PerformanceFrequency();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    if (state == StateStarted && m_state == StateNew) {
        if (!frequency)
            // Raised with the resource's lock held: the log's fatal path
            // shows it without holding this thread.
            LogMessage(SeverityFatal, "Micro timer failed to get performancefreq");
        m_startCounter = now.QuadPart;
        m_durationUs = 0;
    }
    InterlockedExchange(&m_subStatus, subStatus);
    InterlockedExchange(&m_state, state);
    if (state >= StateCompleted && state <= StateFailed)
        m_durationUs = frequency ? static_cast<ULONGLONG>((now.QuadPart - m_startCounter) * 1000000 / frequency) : 0;
}

bool CXAction::SetWriteData(const void *data, DWORD length)
{
    if (length > DataSize || (length && !data))
        return false;
    if (length)
        memcpy(m_writeData, data, length);
    m_writeLength = length;
    return true;
}

bool CXAction::SetReceivedData(const void *data, DWORD length)
{
    if (length > DataSize || (length && !data))
        return false;
    if (length)
        memcpy(m_received, data, length);
    m_receivedLength = length;
    return true;
}

bool CXAction::SetVariableText(const char *text)
{
    if (!text || strlen(text) >= VarTextSize)
        return false;
    strcpy(m_varText, text);
    m_varTextLength = static_cast<DWORD>(strlen(text));
    return true;
}
