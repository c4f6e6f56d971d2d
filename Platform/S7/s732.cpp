// Stand-in for the S7 communication library. It keeps a catalogue of CPs,
// VFDs and connections read from a configuration file, gives every open its
// own descriptor with its own event FIFO, and answers requests from a
// simulated controller per connection (S7Sim.h).
#include "s732.h"
#include "S7Sim.h"
#include "S7VarText.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

// ---- per-thread last error ------------------------------------------------

struct LastError {
    WORD number = 0;
    WORD errorClass = 0;
    char text1[S7_ERR_TEXT_SIZE] = "";
    char text2[S7_ERR_TEXT_SIZE] = "";
};
thread_local LastError t_lastError;

int Fail(WORD errorClass, WORD number, const char *text1, const char *text2 = "")
{
    t_lastError.errorClass = errorClass;
    t_lastError.number = number;
    lstrcpynA(t_lastError.text1, text1, sizeof(t_lastError.text1));
    lstrcpynA(t_lastError.text2, text2, sizeof(t_lastError.text2));
    return S7LIB_ERR;
}

// ---- catalogue -------------------------------------------------------------

struct ConnConfig {
    std::string name;
    std::map<std::string, std::string> options;  // fault and latency switches
};
struct VfdConfig {
    std::string name;
    std::vector<ConnConfig> conns;               // reference = index + 1
};
struct CpConfig {
    std::string name;
    std::vector<VfdConfig> vfds;
};

HMODULE g_module;
CRITICAL_SECTION g_lock;       // everything below
bool g_loaded;
std::vector<CpConfig> g_cps;
std::string g_abortTimeout;

CpConfig *FindCp(const std::string &name)
{
    for (auto &cp : g_cps)
        if (cp.name == name)
            return &cp;
    return nullptr;
}
VfdConfig *FindVfd(CpConfig *cp, const std::string &name)
{
    for (auto &vfd : cp->vfds)
        if (vfd.name == name)
            return &vfd;
    return nullptr;
}

std::string ConfigPath()
{
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("S732_CONFIG", path, sizeof(path));
    if (n > 0 && n < sizeof(path))
        return path;
    n = GetModuleFileNameA(g_module, path, sizeof(path));
    std::string p(path, n);
    size_t slash = p.find_last_of("\\/");
    return (slash == std::string::npos ? std::string() : p.substr(0, slash + 1)) + "s732.cfg";
}

// Lines: "cp NAME", "vfd CP VFD", "connection CP VFD NAME [key=value ...]";
// '#' starts a comment. Lines that name an unknown CP or VFD are skipped.
void LoadCatalogue()
{
    if (g_loaded)
        return;
    g_loaded = true;
    FILE *f = fopen(ConfigPath().c_str(), "r");
    if (!f)
        return;
    char line[1024];
    while (fgets(line, sizeof(line), f)) {
        if (char *hash = strchr(line, '#'))
            *hash = 0;
        std::vector<std::string> words;
        for (char *w = strtok(line, " \t\r\n"); w; w = strtok(nullptr, " \t\r\n"))
            words.push_back(w);
        if (words.empty())
            continue;
        if (words[0] == "cp" && words.size() == 2 && words[1].size() <= S7_CP_NAME_MAX) {
            if (!FindCp(words[1]))
                g_cps.push_back(CpConfig{words[1], {}});
        } else if (words[0] == "vfd" && words.size() == 3 && words[2].size() <= S7_VFD_NAME_MAX) {
            CpConfig *cp = FindCp(words[1]);
            if (cp && !FindVfd(cp, words[2]))
                cp->vfds.push_back(VfdConfig{words[2], {}});
        } else if (words[0] == "connection" && words.size() >= 4 && words[3].size() <= S7_CONN_NAME_MAX) {
            CpConfig *cp = FindCp(words[1]);
            VfdConfig *vfd = cp ? FindVfd(cp, words[2]) : nullptr;
            if (!vfd)
                continue;
            ConnConfig conn{words[3], {}};
            for (size_t i = 4; i < words.size(); ++i) {
                size_t eq = words[i].find('=');
                if (eq != std::string::npos)
                    conn.options[words[i].substr(0, eq)] = words[i].substr(eq + 1);
            }
            vfd->conns.push_back(conn);
        }
    }
    fclose(f);
}

// ---- controllers ------------------------------------------------------------

// One mapped controller per connection and process, kept while the library is loaded.
std::map<std::string, std::unique_ptr<s7sim::Controller>> g_controllers;

void ApplyOptions(s7sim::Shared *s, const std::map<std::string, std::string> &options)
{
    static const struct { const char *key; LONG s7sim::Shared::*field; } counters[] = {
        {"fail_initiate", &s7sim::Shared::failInitiate},
        {"abort_indication", &s7sim::Shared::abortIndication},
        {"drop_confirmation", &s7sim::Shared::dropConfirmation},
        {"stale_confirmation", &s7sim::Shared::staleConfirmation},
        {"error_confirmation", &s7sim::Shared::errorConfirmation},
        {"stray_notice", &s7sim::Shared::strayNotice},
        {"stray_vfd_state", &s7sim::Shared::strayVfdState},
        {"no_notify", &s7sim::Shared::suppressNotify},
    };
    s7sim::SharedLock lock(s);
    for (const auto &[key, value] : options) {
        long v = strtol(value.c_str(), nullptr, 10);
        if (key == "latency")
            s->latencyMs = static_cast<DWORD>(v < 0 ? 0 : v);
        else if (key == "error_class")
            s->errorClass = static_cast<WORD>(v);
        else if (key == "error_number")
            s->errorNumber = static_cast<WORD>(v);
        else if (key == "error_text1")
            lstrcpynA(s->errorText1, value.c_str(), sizeof(s->errorText1));
        else if (key == "error_text2")
            lstrcpynA(s->errorText2, value.c_str(), sizeof(s->errorText2));
        for (const auto &c : counters)
            if (key == c.key)
                s->*c.field = v;
    }
}

s7sim::Shared *ControllerFor(const CpConfig &cp, const VfdConfig &vfd, const ConnConfig &conn)
{
    std::string name = s7sim::SectionName(cp.name.c_str(), vfd.name.c_str(), conn.name.c_str());
    auto it = g_controllers.find(name);
    if (it != g_controllers.end())
        return it->second->get();
    auto c = std::make_unique<s7sim::Controller>();
    if (!c->Open(cp.name.c_str(), vfd.name.c_str(), conn.name.c_str()))
        return nullptr;
    // The file's switches apply once per section, whoever opened it first.
    if (InterlockedCompareExchange(&(*c)->configured, 1, 0) == 0)
        ApplyOptions(c->get(), conn.options);
    s7sim::Shared *s = c->get();
    g_controllers[name] = std::move(c);
    return s;
}

// ---- descriptors and events ---------------------------------------------------

struct Event {
    int code = 0;
    DWORD cref = 0;
    WORD orderId = 0;
    bool failed = false;          // the getter fails with the error below
    WORD errorClass = 0, errorNumber = 0;
    std::string text1, text2;
    std::vector<BYTE> data;       // read confirmation
};

enum ConnState { ConnIdle, ConnConnected };

struct Descriptor {
    DWORD id = 0;
    CpConfig *cp = nullptr;
    VfdConfig *vfd = nullptr;
    std::deque<Event> fifo;
    bool headCurrent = false;     // the head was handed out by receive
    HWND window = nullptr;
    UINT message = 0;
    std::map<DWORD, ConnState> conns;
};

std::map<DWORD, Descriptor> g_descriptors;
DWORD g_nextDescriptor = 0x100;

// Confirmations waiting out the controller's latency.
struct Pending {
    ULONGLONG due;
    DWORD descriptor;
    Event event;
};
std::vector<Pending> g_pending;
HANDLE g_wake;                    // auto-reset: the pending list changed
bool g_workerStarted;

Descriptor *FindDescriptor(DWORD id)
{
    auto it = g_descriptors.find(id);
    return it == g_descriptors.end() ? nullptr : &it->second;
}

s7sim::Shared *ControllerOf(Descriptor *d, DWORD cref)
{
    if (cref == 0 || cref > d->vfd->conns.size())
        return nullptr;
    return ControllerFor(*d->cp, *d->vfd, d->vfd->conns[cref - 1]);
}

// Queues an event on its descriptor and posts one notice per event.
void Deliver(Descriptor *d, Event event)
{
    d->fifo.push_back(std::move(event));
    s7sim::Shared *s = ControllerOf(d, d->fifo.back().cref);
    bool quiet = s && s->suppressNotify != 0;
    if (d->window && !quiet)
        PostMessageA(d->window, d->message, 0, 0);
}

DWORD WINAPI Worker(void *)
{
    for (;;) {
        DWORD wait = INFINITE;
        EnterCriticalSection(&g_lock);
        ULONGLONG now = GetTickCount64();
        for (size_t i = 0; i < g_pending.size();) {
            if (g_pending[i].due <= now) {
                if (Descriptor *d = FindDescriptor(g_pending[i].descriptor))
                    Deliver(d, std::move(g_pending[i].event));
                g_pending.erase(g_pending.begin() + static_cast<long>(i));
            } else {
                DWORD left = static_cast<DWORD>(g_pending[i].due - now);
                if (left < wait)
                    wait = left;
                ++i;
            }
        }
        LeaveCriticalSection(&g_lock);
        WaitForSingleObject(g_wake, wait);
    }
}

// Delivers now, or after the controller's latency (in arrival order).
void Schedule(Descriptor *d, s7sim::Shared *s, Event event)
{
    DWORD latency = s ? s->latencyMs : 0;
    bool queued = false;
    for (const auto &p : g_pending)
        queued = queued || p.descriptor == d->id;
    if (latency == 0 && !queued) {
        Deliver(d, std::move(event));
        return;
    }
    if (!g_workerStarted) {
        HANDLE h = CreateThread(nullptr, 0, Worker, nullptr, 0, nullptr);
        if (h)
            CloseHandle(h);
        g_workerStarted = h != nullptr;
    }
    g_pending.push_back(Pending{GetTickCount64() + latency, d->id, std::move(event)});
    SetEvent(g_wake);
}

class Guard {
public:
    Guard() { EnterCriticalSection(&g_lock); LoadCatalogue(); }
    ~Guard() { LeaveCriticalSection(&g_lock); }
};

bool CopyName(const char *name, size_t max)
{
    return name && strlen(name) <= max;
}

// Answers one read or write from the controller, with the injected faults.
void Answer(Descriptor *d, s7sim::Shared *s, DWORD cref, WORD orderId, int code, Event answer)
{
    auto stray = [&](int strayCode) {
        Event e;
        e.code = strayCode;
        e.cref = cref;
        Schedule(d, s, e);
    };
    if (s7sim::TakeFault(s, &s7sim::Shared::strayNotice))
        stray(S7_EVENT_NOTICE);
    if (s7sim::TakeFault(s, &s7sim::Shared::strayVfdState))
        stray(S7_EVENT_VFD_STATE);
    if (s7sim::TakeFault(s, &s7sim::Shared::abortIndication)) {
        d->conns[cref] = ConnIdle;
        Event e;
        e.code = S7_EVENT_ABORT_IND;
        e.cref = cref;
        {
            s7sim::SharedLock lock(s);
            if (s->errorClass) {
                e.failed = true;
                e.errorClass = s->errorClass;
                e.errorNumber = s->errorNumber;
                e.text1 = s->errorText1;
                e.text2 = s->errorText2;
            }
        }
        Schedule(d, s, e);
        return;
    }
    if (s7sim::TakeFault(s, &s7sim::Shared::dropConfirmation))
        return;
    answer.code = code;
    answer.cref = cref;
    answer.orderId = orderId;
    if (s7sim::TakeFault(s, &s7sim::Shared::staleConfirmation))
        answer.orderId = static_cast<WORD>(orderId == 1 ? 65535 : orderId - 1);
    if (s7sim::TakeFault(s, &s7sim::Shared::errorConfirmation)) {
        s7sim::SharedLock lock(s);
        answer.failed = true;
        answer.errorClass = s->errorClass;
        answer.errorNumber = s->errorNumber;
        answer.text1 = s->errorText1;
        answer.text2 = s->errorText2;
        answer.data.clear();
    }
    Schedule(d, s, std::move(answer));
}

// Common checks of a request on a connection.
int RequestTarget(DWORD cp_descr, DWORD cref, Descriptor **d, s7sim::Shared **s)
{
    *d = FindDescriptor(cp_descr);
    if (!*d)
        return Fail(S7_CLASS_PARAMETER, 1, "invalid CP descriptor");
    *s = ControllerOf(*d, cref);
    if (!*s)
        return Fail(S7_CLASS_UNKNOWN_OBJECT, 2, "invalid connection reference");
    if ((*d)->conns[cref] != ConnConnected)
        return Fail(S7_CLASS_STATE, 3, "connection not established");
    return S7LIB_OK;
}

// The current event when it has the given code; fails otherwise.
Event *Current(DWORD cp_descr, int code)
{
    Descriptor *d = FindDescriptor(cp_descr);
    if (!d) {
        Fail(S7_CLASS_PARAMETER, 1, "invalid CP descriptor");
        return nullptr;
    }
    if (!d->headCurrent || d->fifo.empty() || d->fifo.front().code != code) {
        Fail(S7_CLASS_NO_EVENT, 7, "no current event of this kind");
        return nullptr;
    }
    return &d->fifo.front();
}

void Consume(DWORD cp_descr)
{
    Descriptor *d = FindDescriptor(cp_descr);
    d->fifo.pop_front();
    d->headCurrent = false;
}

// Consumes the current event; fails with its error when it carries one.
int ConsumeEvent(DWORD cp_descr, int code)
{
    Event *e = Current(cp_descr, code);
    if (!e)
        return S7LIB_ERR;
    Event copy = *e;
    Consume(cp_descr);
    if (copy.failed)
        return Fail(copy.errorClass, copy.errorNumber, copy.text1.c_str(), copy.text2.c_str());
    return S7LIB_OK;
}

} // namespace

extern "C" {

int WINAPI s7_open(const char *cp_name, const char *vfd_name, DWORD *cp_descr)
{
    Guard guard;
    if (!cp_descr || !CopyName(cp_name, S7_CP_NAME_MAX) || !CopyName(vfd_name, S7_VFD_NAME_MAX))
        return Fail(S7_CLASS_PARAMETER, 1, "invalid parameter");
    CpConfig *cp = FindCp(cp_name);
    VfdConfig *vfd = cp ? FindVfd(cp, vfd_name) : nullptr;
    if (!vfd)
        return Fail(S7_CLASS_UNKNOWN_OBJECT, 2, "unknown CP or VFD", cp_name);
    Descriptor d;
    d.id = g_nextDescriptor++;
    d.cp = cp;
    d.vfd = vfd;
    g_descriptors[d.id] = d;
    *cp_descr = d.id;
    return S7LIB_OK;
}

int WINAPI s7_shut(DWORD cp_descr)
{
    Guard guard;
    if (!g_descriptors.erase(cp_descr))
        return Fail(S7_CLASS_PARAMETER, 1, "invalid CP descriptor");
    return S7LIB_OK;
}

int WINAPI s7_get_conn(DWORD cp_descr, WORD index, WORD *number, DWORD *cref, char *conn_name)
{
    Guard guard;
    Descriptor *d = FindDescriptor(cp_descr);
    if (!d)
        return Fail(S7_CLASS_PARAMETER, 1, "invalid CP descriptor");
    if (!number || !cref || !conn_name)
        return Fail(S7_CLASS_PARAMETER, 1, "invalid parameter");
    *number = static_cast<WORD>(d->vfd->conns.size());
    if (index >= d->vfd->conns.size())
        return Fail(S7_CLASS_UNKNOWN_OBJECT, 2, "no connection at this index");
    *cref = index + 1u;
    lstrcpynA(conn_name, d->vfd->conns[index].name.c_str(), S7_CONN_NAME_MAX + 1);
    return S7LIB_OK;
}

int WINAPI s7_get_cref(DWORD cp_descr, const char *conn_name, DWORD *cref)
{
    Guard guard;
    Descriptor *d = FindDescriptor(cp_descr);
    if (!d)
        return Fail(S7_CLASS_PARAMETER, 1, "invalid CP descriptor");
    if (!cref || !CopyName(conn_name, S7_CONN_NAME_MAX))
        return Fail(S7_CLASS_PARAMETER, 1, "invalid parameter");
    for (size_t i = 0; i < d->vfd->conns.size(); ++i)
        if (d->vfd->conns[i].name == conn_name) {
            *cref = static_cast<DWORD>(i + 1);
            return S7LIB_OK;
        }
    return Fail(S7_CLASS_UNKNOWN_OBJECT, 2, "unknown connection", conn_name);
}

int WINAPI s7_initiate_req(DWORD cp_descr, DWORD cref)
{
    Guard guard;
    Descriptor *d = FindDescriptor(cp_descr);
    if (!d)
        return Fail(S7_CLASS_PARAMETER, 1, "invalid CP descriptor");
    s7sim::Shared *s = ControllerOf(d, cref);
    if (!s)
        return Fail(S7_CLASS_UNKNOWN_OBJECT, 2, "invalid connection reference");
    if (d->conns[cref] == ConnConnected)
        return Fail(S7_CLASS_STATE, 3, "connection already established");
    InterlockedIncrement(&s->initiates);
    Event e;
    e.code = S7_EVENT_INITIATE_CNF;
    e.cref = cref;
    if (s7sim::TakeFault(s, &s7sim::Shared::failInitiate)) {
        e.failed = true;
        e.errorClass = S7_CLASS_INITIATE;
        e.errorNumber = 20;
        e.text1 = "connection refused by the partner";
    } else {
        d->conns[cref] = ConnConnected;
    }
    Schedule(d, s, e);
    return S7LIB_OK;
}

int WINAPI s7_get_initiate_cnf(DWORD cp_descr)
{
    Guard guard;
    return ConsumeEvent(cp_descr, S7_EVENT_INITIATE_CNF);
}

int WINAPI s7_abort(DWORD cp_descr, DWORD cref)
{
    Guard guard;
    Descriptor *d = FindDescriptor(cp_descr);
    if (!d)
        return Fail(S7_CLASS_PARAMETER, 1, "invalid CP descriptor");
    s7sim::Shared *s = ControllerOf(d, cref);
    if (!s)
        return Fail(S7_CLASS_UNKNOWN_OBJECT, 2, "invalid connection reference");
    InterlockedIncrement(&s->aborts);
    d->conns[cref] = ConnIdle;
    return S7LIB_OK;
}

int WINAPI s7_get_abort_ind(DWORD cp_descr)
{
    Guard guard;
    return ConsumeEvent(cp_descr, S7_EVENT_ABORT_IND);
}

int WINAPI s7_receive(DWORD cp_descr, DWORD *cref, WORD *order_id)
{
    Guard guard;
    Descriptor *d = FindDescriptor(cp_descr);
    if (!d) {
        Fail(S7_CLASS_PARAMETER, 1, "invalid CP descriptor");
        return S7_EVENT_BAD_DESCRIPTOR;
    }
    if (!cref || !order_id) {
        Fail(S7_CLASS_PARAMETER, 1, "invalid parameter");
        return S7_EVENT_BAD_PARAMETER;
    }
    // An event the caller left unconsumed is dropped.
    if (d->headCurrent && !d->fifo.empty())
        d->fifo.pop_front();
    d->headCurrent = false;
    *cref = 0;
    *order_id = 0;
    if (d->fifo.empty())
        return S7_NO_EVENT;
    d->headCurrent = true;
    *cref = d->fifo.front().cref;
    *order_id = d->fifo.front().orderId;
    return d->fifo.front().code;
}

int WINAPI s7_discard_msg(DWORD cp_descr)
{
    Guard guard;
    Descriptor *d = FindDescriptor(cp_descr);
    if (!d)
        return Fail(S7_CLASS_PARAMETER, 1, "invalid CP descriptor");
    if (!d->headCurrent || d->fifo.empty())
        return Fail(S7_CLASS_NO_EVENT, 7, "no current event");
    Consume(cp_descr);
    return S7LIB_OK;
}

extern "C++" {
namespace {

bool LengthFits(const S7ReadPara *) { return true; }
bool LengthFits(const S7WritePara *para) { return para->var_length <= S7_WRITE_DATA_MAX; }

// A request record's variable text, checked and parsed; the failure is the
// caller's answer.
template <class Para>
int CheckVariable(const Para *para, s7sim::VarRange *range)
{
    if (!para || para->access != S7_ACCESS_SYMB_ADDRESS ||
        !memchr(para->var_name, 0, sizeof(para->var_name)) || !LengthFits(para))
        return Fail(S7_CLASS_PARAMETER, 1, "invalid request record");
    if (!s7sim::ParseVarText(para->var_name, range))
        return Fail(S7_CLASS_PARAMETER, 4, "invalid variable text", para->var_name);
    return S7LIB_OK;
}

// The controller memory a range names, or null with the answer made an
// object-access failure.
BYTE *RangeMemory(s7sim::Shared *s, const s7sim::VarRange &range, const char *varName, Event *answer)
{
    BYTE *memory = s7sim::AreaMemory(s, range.dataBlock, static_cast<s7sim::Area>(range.area), range.dbNumber);
    if (memory && range.offset + range.bytes <= s7sim::kAreaBytes)
        return memory;
    answer->failed = true;
    answer->errorClass = S7_CLASS_OBJECT_ACCESS;
    answer->errorNumber = 5;
    answer->text1 = "object access not possible";
    answer->text2 = varName;
    return nullptr;
}

}  // namespace
}  // extern "C++"

int WINAPI s7_read_req(DWORD cp_descr, DWORD cref, WORD order_id, const S7ReadPara *para)
{
    Guard guard;
    Descriptor *d;
    s7sim::Shared *s;
    if (RequestTarget(cp_descr, cref, &d, &s) != S7LIB_OK)
        return S7LIB_ERR;
    s7sim::VarRange range;
    if (CheckVariable(para, &range) != S7LIB_OK)
        return S7LIB_ERR;
    InterlockedIncrement(&s->reads);
    s->lastOrderId = order_id;
    Event answer;
    BYTE *memory = RangeMemory(s, range, para->var_name, &answer);
    if (memory) {
        s7sim::SharedLock lock(s);
        if (range.bit)
            answer.data.push_back((memory[range.offset] >> range.bitNumber) & 1);
        else
            answer.data.assign(memory + range.offset, memory + range.offset + range.bytes);
    }
    Answer(d, s, cref, order_id, S7_EVENT_READ_CNF, std::move(answer));
    return S7LIB_OK;
}

int WINAPI s7_get_read_cnf(DWORD cp_descr, void *buffer, WORD capacity, WORD *length)
{
    Guard guard;
    if (!buffer || !length)
        return Fail(S7_CLASS_PARAMETER, 1, "invalid parameter");
    Event *e = Current(cp_descr, S7_EVENT_READ_CNF);
    if (!e)
        return S7LIB_ERR;
    if (!e->failed && e->data.size() > capacity) {
        Consume(cp_descr);
        return Fail(S7_CLASS_PARAMETER, 6, "buffer too small");
    }
    Event copy = std::move(*e);
    Consume(cp_descr);
    if (copy.failed)
        return Fail(copy.errorClass, copy.errorNumber, copy.text1.c_str(), copy.text2.c_str());
    *length = static_cast<WORD>(copy.data.size());
    if (!copy.data.empty())
        memcpy(buffer, copy.data.data(), copy.data.size());
    return S7LIB_OK;
}

int WINAPI s7_write_req(DWORD cp_descr, DWORD cref, WORD order_id, const S7WritePara *para)
{
    Guard guard;
    Descriptor *d;
    s7sim::Shared *s;
    if (RequestTarget(cp_descr, cref, &d, &s) != S7LIB_OK)
        return S7LIB_ERR;
    s7sim::VarRange range;
    if (CheckVariable(para, &range) != S7LIB_OK)
        return S7LIB_ERR;
    InterlockedIncrement(&s->writes);
    s->lastOrderId = order_id;
    Event answer;
    BYTE *memory = RangeMemory(s, range, para->var_name, &answer);
    // RangeMemory has made the answer a failure when there is no memory.
    if (memory && para->var_length != range.bytes) {
        answer.failed = true;
        answer.errorClass = S7_CLASS_TYPE;
        answer.errorNumber = 6;
        answer.text1 = "data length does not fit the variable";
        answer.text2 = para->var_name;
    } else if (memory) {
        s7sim::SharedLock lock(s);
        if (range.bit) {
            BYTE mask = static_cast<BYTE>(1u << range.bitNumber);
            memory[range.offset] = static_cast<BYTE>((para->value[0] & 1) ? memory[range.offset] | mask
                                                                            : memory[range.offset] & ~mask);
        } else {
            memcpy(memory + range.offset, para->value, range.bytes);
        }
    }
    Answer(d, s, cref, order_id, S7_EVENT_WRITE_CNF, std::move(answer));
    return S7LIB_OK;
}

int WINAPI s7_get_write_cnf(DWORD cp_descr)
{
    Guard guard;
    return ConsumeEvent(cp_descr, S7_EVENT_WRITE_CNF);
}

// The controller never sends multiple writes; the getter only consumes.
int WINAPI s7_get_multiple_write_cnf(DWORD cp_descr, WORD *results, WORD capacity, WORD *count)
{
    Guard guard;
    if (!results || !count)
        return Fail(S7_CLASS_PARAMETER, 1, "invalid parameter");
    *count = 0;
    return ConsumeEvent(cp_descr, S7_EVENT_MULT_WRITE_CNF);
}

int WINAPI s7_get_device(WORD index, WORD *number, char *cp_name)
{
    Guard guard;
    if (!number || !cp_name)
        return Fail(S7_CLASS_PARAMETER, 1, "invalid parameter");
    *number = static_cast<WORD>(g_cps.size());
    if (index >= g_cps.size())
        return Fail(S7_CLASS_UNKNOWN_OBJECT, 2, "no CP at this index");
    lstrcpynA(cp_name, g_cps[index].name.c_str(), S7_CP_NAME_MAX + 1);
    return S7LIB_OK;
}

int WINAPI s7_get_vfd(const char *cp_name, WORD index, WORD *number, char *vfd_name)
{
    Guard guard;
    if (!number || !vfd_name || !cp_name)
        return Fail(S7_CLASS_PARAMETER, 1, "invalid parameter");
    CpConfig *cp = FindCp(cp_name);
    if (!cp)
        return Fail(S7_CLASS_UNKNOWN_OBJECT, 2, "unknown CP", cp_name);
    *number = static_cast<WORD>(cp->vfds.size());
    if (index >= cp->vfds.size())
        return Fail(S7_CLASS_UNKNOWN_OBJECT, 2, "no VFD at this index");
    lstrcpynA(vfd_name, cp->vfds[index].name.c_str(), S7_VFD_NAME_MAX + 1);
    return S7LIB_OK;
}

int WINAPI s7_set_window_handle_msg(DWORD cp_descr, HWND window, UINT message)
{
    Guard guard;
    Descriptor *d = FindDescriptor(cp_descr);
    if (!d)
        return Fail(S7_CLASS_PARAMETER, 1, "invalid CP descriptor");
    d->window = window;
    d->message = message;
    return S7LIB_OK;
}

const char *WINAPI s7_get_err_text1(void) { return t_lastError.text1; }
WORD WINAPI s7_get_err_no1(void) { return t_lastError.number; }
const char *WINAPI s7_get_err_text2(void) { return t_lastError.text2; }
WORD WINAPI s7_get_err_class(void) { return t_lastError.errorClass; }

int WINAPI s7_mini_db_set(WORD item, const char *value)
{
    Guard guard;
    if (!value || item != S7_MINI_DB_ABORT_TIMEOUT || !*value || strlen(value) > 19 ||
        strspn(value, "0123456789") != strlen(value))
        return Fail(S7_CLASS_PARAMETER, 1, "invalid mini-database item or value");
    g_abortTimeout = value;
    return S7LIB_OK;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void *)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        InitializeCriticalSection(&g_lock);
        g_wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    return TRUE;
}

} // extern "C"
