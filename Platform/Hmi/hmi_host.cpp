// hmi_host: a stand-in for the HMI's scan task. It loads the driver
// interface library (Oxley.dll unless --library names another) by name, binds
// its kiv_* exports, and runs commands, one a line, from a script file or
// from standard input, answering each with one line on standard output:
//
//   item NAME KIND COUNT ADDRESS   kiv_paddr (KIND analog|digital|text)
//   option NAME OPTION             kiv_popt       signal NAME NAME   kiv_psig
//   range NAME LOW SPAN            the item's engineering range
//   bind NAME KIND COUNT HANDLE INDEX WORD INTERNAL [ELEMENT]
//                                  an item as the HMI's database holds it,
//                                  parsed before (numbers may be 0x...)
//   show NAME                      kiv_daddr, kiv_dsig, kiv_dopt
//   read NAME / readex NAME        kiv_read / kiv_readEx (quality and time)
//   send NAME VALUE                kiv_send (a float, a byte or the text)
//   on NAME TAG ID VALUE / off NAME TAG ID      kiv_on / kiv_off
//   fetch MAX                      kiv_fetch      stats    kiv_read_stats
//   enable / cleanup               kiv_enable_options / kiv_CleanUp
//   sleep MS, quit (cleans up, unloads), exit-now (ends without cleaning up)
//
// As an HMI does, a call that needs the server and fails with 510 is
// followed by kiv_CleanUp and tried once more, so the host reconnects to a
// restarted server (the address parser reconnects by itself). With --dismiss-boxes a watcher answers
// the library's message boxes with OK and reports them as "box CAPTION: TEXT".
#include <windows.h>
#include <oleauto.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include "Oxley.h"

namespace {

struct Exports {
    PFN_kiv_status cleanUp, enable;
    PFN_kiv_paddr paddr;
    PFN_kiv_display daddr, dsig, dopt;
    PFN_kiv_parse psig, popt;
    PFN_kiv_value read, send;
    PFN_kiv_readEx readEx;
    PFN_kiv_on on;
    PFN_kiv_off off;
    PFN_kiv_fetch fetch;
    PFN_kiv_read_stats readStats;
};

struct HostItem {
    KivDevice device;
    KivAddress address;
    KivBlock block;
    KivKind kind;
    HostItem()
    {
        memset(&device, 0, sizeof(device));
        memset(&address, 0, sizeof(address));
        block.hmi = 0;
        block.device = &device;
        block.address = &address;
        memset(&kind, 0, sizeof(kind));
        kind.span = 100;
    }
};

void Say(const std::string &line)
{
    fputs((line + "\n").c_str(), stdout);
    fflush(stdout);
}

volatile LONG g_watching = 1;

BOOL CALLBACK AnswerBox(HWND window, LPARAM)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[16] = "";
    GetClassNameA(window, className, sizeof(className));
    if (process != GetCurrentProcessId() || strcmp(className, "#32770") != 0)
        return TRUE;
    char caption[128] = "", text[512] = "";
    GetWindowTextA(window, caption, sizeof(caption));
    GetDlgItemTextA(window, 0xFFFF, text, sizeof(text));   // the box's static text
    Say(std::string("box ") + caption + ": " + text);
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

// Runs before the library loads: a thread that first starts while the
// loader lock is held (a box shown from the library's entry point) would
// wait for it.
DWORD WINAPI WatchBoxes(LPVOID started)
{
    EnumWindows(AnswerBox, 0);
    SetEvent(static_cast<HANDLE>(started));
    while (g_watching) {
        EnumWindows(AnswerBox, 0);
        Sleep(50);
    }
    return 0;
}

template <class Fn> bool Bind(HMODULE module, const char *name, Fn *fn)
{
    *fn = reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(module, name)));
    if (!*fn)
        Say(std::string("missing export ") + name);
    return *fn != nullptr;
}

bool BindAll(HMODULE m, Exports &x)
{
    bool ok = true;
    ok &= Bind(m, "kiv_CleanUp", &x.cleanUp);
    ok &= Bind(m, "kiv_enable_options", &x.enable);
    ok &= Bind(m, "kiv_paddr", &x.paddr);
    ok &= Bind(m, "kiv_daddr", &x.daddr);
    ok &= Bind(m, "kiv_dsig", &x.dsig);
    ok &= Bind(m, "kiv_dopt", &x.dopt);
    ok &= Bind(m, "kiv_psig", &x.psig);
    ok &= Bind(m, "kiv_popt", &x.popt);
    ok &= Bind(m, "kiv_read", &x.read);
    ok &= Bind(m, "kiv_send", &x.send);
    ok &= Bind(m, "kiv_readEx", &x.readEx);
    ok &= Bind(m, "kiv_on", &x.on);
    ok &= Bind(m, "kiv_off", &x.off);
    ok &= Bind(m, "kiv_fetch", &x.fetch);
    ok &= Bind(m, "kiv_read_stats", &x.readStats);
    return ok;
}

std::string Number(float f)
{
    char text[32];
    snprintf(text, sizeof(text), "%g", double(f));
    return text;
}

std::string Shown(const VARIANT &v)
{
    switch (V_VT(&v)) {
    case VT_R4: return Number(V_R4(&v));
    case VT_BOOL: return V_BOOL(&v) ? "1" : "0";
    case VT_BSTR: {
        char text[300] = "";
        if (V_BSTR(&v))
            WideCharToMultiByte(CP_ACP, 0, V_BSTR(&v), -1, text, sizeof(text) - 1, NULL, NULL);
        return std::string("'") + text + "'";
    }
    case VT_ARRAY | VT_R4: {
        std::string out = "[";
        LONG upper = -1;
        SafeArrayGetUBound(V_ARRAY(&v), 1, &upper);
        for (LONG i = 0; i <= upper; ++i) {
            float f = 0;
            SafeArrayGetElement(V_ARRAY(&v), &i, &f);
            out += (i ? "," : "") + Number(f);
        }
        return out + "]";
    }
    default: return "vt" + std::to_string(V_VT(&v));
    }
}

class Host {
public:
    explicit Host(const Exports &x) : m_x(x) {}

    // One command line; false to stop.
    bool Run(const std::string &line)
    {
        std::istringstream in(line);
        std::string command, name;
        in >> command;
        if (command.empty() || command[0] == '#')
            return true;
        if (command == "quit") {
            KivStatus status = 0;
            m_x.cleanUp(&status);
            Say("quit " + std::to_string(status));
            return false;
        }
        if (command == "exit-now") {
            Say("exit-now");
            ExitProcess(0);
        }
        if (command == "sleep") {
            int ms = 0;
            in >> ms;
            Sleep(DWORD(ms));
            Say("sleep");
            return true;
        }
        if (command == "enable" || command == "cleanup") {
            KivStatus status = 0;
            (command == "enable" ? m_x.enable : m_x.cleanUp)(&status);
            Say(command + " " + std::to_string(status));
            return true;
        }
        if (command == "fetch") {
            int maximum = 0;
            in >> maximum;
            KivException points[256];
            short count = 0;
            m_x.fetch(nullptr, nullptr, points, short(maximum > 256 ? 256 : maximum), &count);
            std::string out = "fetch " + std::to_string(count);
            for (int i = 0; i < count; ++i)
                out += " " + std::to_string(points[i].tag) + ":" + std::to_string(points[i].tagId);
            Say(out);
            return true;
        }
        if (command == "stats") {
            KivStats stats;
            KivStatus status = 0;
            WithServer([&] {
                m_x.readStats(&status, nullptr, 0, nullptr, &stats);
                return status;
            });
            std::string out = "stats " + std::to_string(status);
            for (uint16_t word : stats.word)
                out += " " + std::to_string(word);
            Say(out);
            return true;
        }
        in >> name;
        std::unique_ptr<HostItem> &slot = m_items[name];
        if (!slot)
            slot.reset(new HostItem);
        HostItem &item = *slot;
        if (command == "item")
            return Parse(in, name, item);
        if (command == "option" || command == "signal") {
            std::string text;
            in >> text;
            KivStatus status = 0;
            (command == "option" ? m_x.popt : m_x.psig)(&status, &item.block, nullptr, text.c_str());
            Say(command + " " + name + " " + std::to_string(status));
        } else if (command == "bind") {
            std::string kind, count, handle, index, word, internal, element = "0";
            in >> kind >> count >> handle >> index >> word >> internal >> element;
            item.kind.kind = kind == "digital" ? KIV_DIGITAL : kind == "text" ? KIV_TEXT : KIV_ANALOG;
            item.kind.count = uint8_t(strtoul(count.c_str(), nullptr, 0));
            item.device.blockHandle = uint32_t(strtoul(handle.c_str(), nullptr, 0));
            item.address.blockIndex = uint16_t(strtoul(index.c_str(), nullptr, 0));
            item.device.addressWord = uint32_t(strtoul(word.c_str(), nullptr, 0));
            item.address.internalAddress = uint32_t(strtoul(internal.c_str(), nullptr, 0));
            item.device.elementOffset = uint16_t(strtoul(element.c_str(), nullptr, 0));
            Say("bind " + name);
        } else if (command == "range") {
            in >> item.kind.low >> item.kind.span;
            Say("range " + name);
        } else if (command == "show") {
            char address[128], signal[32], option[32];
            KivStatus status = 0;
            m_x.daddr(&status, &item.block, nullptr, address, sizeof(address));
            m_x.dsig(&status, &item.block, nullptr, signal, sizeof(signal));
            m_x.dopt(&status, &item.block, nullptr, option, sizeof(option));
            Say("show " + name + " address=" + address + " signal=" + signal + " option=" + option);
        } else if (command == "read") {
            Read(name, item);
        } else if (command == "readex") {
            ReadEx(name, item);
        } else if (command == "send") {
            std::string rest;
            std::getline(in >> std::ws, rest);
            Send(name, item, rest);
        } else if (command == "on" || command == "off") {
            int tag = 0, id = 0, value = 0;
            in >> tag >> id >> value;
            KivException point = {uint8_t(tag), 0, uint16_t(id)};
            KivStatus status = 0;
            WithServer([&] {
                if (command == "on")
                    m_x.on(&status, &item.block, &item.kind, &point, short(value));
                else
                    m_x.off(&status, &item.block, &item.kind, &point);
                return status;
            });
            Say(command + " " + name + " " + std::to_string(status));
        } else {
            Say("unknown " + command);
        }
        return true;
    }

private:
    // A failed server call: clean up, so that the next call connects anew.
    template <class Call> void WithServer(Call call)
    {
        KivStatus status = call();
        if (status != 510)
            return;
        KivStatus cleaned = 0;
        m_x.cleanUp(&cleaned);
        Say("reconnect " + std::to_string(status));
        call();
    }

    bool Parse(std::istringstream &in, const std::string &name, HostItem &item)
    {
        std::string kind, address;
        int count = 1;
        in >> kind >> count;
        std::getline(in >> std::ws, address);
        item.kind.kind = kind == "digital" ? KIV_DIGITAL : kind == "text" ? KIV_TEXT : KIV_ANALOG;
        item.kind.count = uint8_t(count);
        KivStatus status = 0;
        WithServer([&] {
            m_x.paddr(&status, &item.block, &item.kind, address.c_str());
            return status;
        });
        char line[400];
        snprintf(line, sizeof(line), "item %s %u handle=%lu index=%u word=0x%08lx internal=0x%lx text=%s", name.c_str(),
                 unsigned(status), (unsigned long)item.device.blockHandle, unsigned(item.address.blockIndex),
                 (unsigned long)item.device.addressWord, (unsigned long)item.address.internalAddress,
                 item.address.text);
        Say(line);
        return true;
    }

    void Read(const std::string &name, HostItem &item)
    {
        char buffer[260];
        memset(buffer, 0, sizeof(buffer));
        KivValue value = {0, uint8_t(item.kind.kind == KIV_TEXT ? item.kind.count : 0), 0, buffer};
        KivStatus status[2] = {0, 0};
        m_x.read(status, &item.block, &item.kind, &value);
        std::string shown;
        if (value.type == KIV_VALUE_FLOAT) {
            float f;
            memcpy(&f, buffer, 4);
            shown = Number(f);
        } else if (value.type == KIV_VALUE_BYTE) {
            shown = std::to_string(uint8_t(buffer[0]));
        } else {
            shown = std::string("'") + buffer + "'";
        }
        Say("read " + name + " " + std::to_string(status[0]) + " last=" + std::to_string(status[1]) +
            " type=" + std::to_string(value.type) + " error=" + std::to_string(value.errorCode) + " value=" + shown);
    }

    void ReadEx(const std::string &name, HostItem &item)
    {
        KivStatus status[2] = {0, 0};
        unsigned short quality = 0;
        FILETIME time = {0, 0};
        VARIANT value;
        VariantInit(&value);
        m_x.readEx(status, &item.block, &item.kind, &time, &quality, short(item.kind.count ? item.kind.count : 1),
                   &value, short(item.device.optionWord & 0xFFFF));
        char head[160];
        snprintf(head, sizeof(head), "readex %s %u last=%u quality=0x%04x time=%08lx%08lx value=", name.c_str(),
                 unsigned(status[0]), unsigned(status[1]), unsigned(quality), (unsigned long)time.dwHighDateTime,
                 (unsigned long)time.dwLowDateTime);
        Say(head + Shown(value));
        VariantClear(&value);
    }

    void Send(const std::string &name, HostItem &item, const std::string &text)
    {
        char buffer[260];
        memset(buffer, 0, sizeof(buffer));
        KivValue value = {0, 0, 0, buffer};
        if (item.kind.kind == KIV_TEXT) {
            value.type = KIV_VALUE_TEXT;
            value.length = item.kind.count;
            memcpy(buffer, text.data(), text.size() < 256 ? text.size() : 256);
        } else if (item.kind.kind == KIV_DIGITAL) {
            value.type = KIV_VALUE_BYTE;
            value.length = 1;
            buffer[0] = char(atoi(text.c_str()));
        } else {
            value.type = KIV_VALUE_FLOAT;
            value.length = 4;
            float f = float(atof(text.c_str()));
            memcpy(buffer, &f, 4);
        }
        KivStatus status = 0;
        m_x.send(&status, &item.block, &item.kind, &value);
        Say("send " + name + " " + std::to_string(status));
    }

    const Exports &m_x;
    std::map<std::string, std::unique_ptr<HostItem>> m_items;
};

}  // namespace

int main(int argc, char **argv)
{
    const char *library = "Oxley.dll";
    const char *script = nullptr;
    bool dismiss = false;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--library") == 0 && i + 1 < argc)
            library = argv[++i];
        else if (strcmp(argv[i], "--dismiss-boxes") == 0)
            dismiss = true;
        else
            script = argv[i];
    }
    HANDLE watcher = NULL;
    if (dismiss) {
        HANDLE started = CreateEventA(NULL, TRUE, FALSE, NULL);
        watcher = CreateThread(NULL, 0, WatchBoxes, started, 0, NULL);
        WaitForSingleObject(started, 5000);
        CloseHandle(started);
    }
    HMODULE module = LoadLibraryA(library);
    if (!module) {
        Sleep(200);   // the watcher reports the box first
        Say("load failed " + std::to_string(GetLastError()));
        return 2;
    }
    Exports exports;
    if (!BindAll(module, exports))
        return 3;
    Say("loaded " + std::string(library));
    FILE *input = (!script || strcmp(script, "-") == 0) ? stdin : fopen(script, "r");
    if (!input) {
        Say(std::string("cannot open ") + script);
        return 4;
    }
    Host host(exports);
    char line[1024];
    while (fgets(line, sizeof(line), input)) {
        line[strcspn(line, "\r\n")] = '\0';
        if (!host.Run(line))
            break;
    }
    FreeLibrary(module);
    InterlockedExchange(&g_watching, 0);
    if (watcher) {
        WaitForSingleObject(watcher, 1000);
        CloseHandle(watcher);
    }
    return 0;
}
