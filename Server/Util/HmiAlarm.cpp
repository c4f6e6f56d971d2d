#include "HmiAlarm.h"
#include "HmiAlarmLibs.h"

CHmiAlarmLine::CHmiAlarmLine() : m_library(NULL), m_send(NULL) { InitializeCriticalSection(&m_lock); }

CHmiAlarmLine::~CHmiAlarmLine()
{
    Close();
    DeleteCriticalSection(&m_lock);
}

bool CHmiAlarmLine::Open()
{
    EnterCriticalSection(&m_lock);
    if (!m_library) {
        m_library = LoadLibraryA("dromin.dll");
        if (m_library)
            m_send = reinterpret_cast<void *>(GetProcAddress(m_library, "dromin_send_text"));
    }
    bool open = m_library != NULL;
    LeaveCriticalSection(&m_lock);
    return open;
}

void CHmiAlarmLine::Close()
{
    // Under the lock that every send holds: the library never goes while a
    // thread is inside it.
    EnterCriticalSection(&m_lock);
    if (m_library) {
        FreeLibrary(m_library);
        m_library = NULL;
    }
    m_send = NULL;
    LeaveCriticalSection(&m_lock);
}

bool CHmiAlarmLine::IsOpen()
{
    EnterCriticalSection(&m_lock);
    bool open = m_library != NULL;
    LeaveCriticalSection(&m_lock);
    return open;
}

std::string CHmiAlarmLine::GetNodeName()
{
    EnterCriticalSection(&m_lock);
    std::string name = m_nodeName;
    LeaveCriticalSection(&m_lock);
    return name;
}

bool CHmiAlarmLine::fetchNodeName()
{
    if (!m_nodeName.empty())
        return true;
    HMODULE karsel = LoadLibraryA("karsel.dll");
    if (!karsel)
        return false;
    bool fetched = false;
    KarselGetMyNameFn getName = reinterpret_cast<KarselGetMyNameFn>(GetProcAddress(karsel, "karsel_get_myname"));
    if (getName) {
        char name[KARSEL_NODE_NAME_SIZE + 1] = "";
        if (getName(name) == 0) {
            name[KARSEL_NODE_NAME_SIZE] = '\0';
            m_nodeName = name;
            fetched = true;
        }
    }
    FreeLibrary(karsel);
    return fetched;
}

void CHmiAlarmLine::Send(const char *text, const char *source)
{
    EnterCriticalSection(&m_lock);
    DrominSendTextFn send = reinterpret_cast<DrominSendTextFn>(m_send);
    if (send && fetchNodeName()) {
        std::string line = std::string(source ? source : "") + " - " + std::string(text ? text : "").substr(0, MaxText);
        SYSTEMTIME now;
        GetLocalTime(&now);
        const unsigned short time[8] = {
            static_cast<unsigned short>(now.wMilliseconds / 10), now.wSecond, now.wMinute, now.wHour,
            now.wDay, now.wMonth, now.wYear, now.wDayOfWeek,
        };
        send(line.c_str(), 1, m_nodeName.c_str(), time, 1, 0, 0);
    }
    LeaveCriticalSection(&m_lock);
}

CHmiAlarmLine &GetHmiAlarmLine()
{
    static CHmiAlarmLine line;
    return line;
}

void SendHmiAlarm(const char *text, const char *source) { GetHmiAlarmLine().Send(text, source); }
