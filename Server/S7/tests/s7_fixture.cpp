#include "s7_fixture.h"
#include <cstdio>

namespace s7test {

void UseTestCatalogue()
{
    static std::once_flag once;
    std::call_once(once, [] {
        char dir[MAX_PATH];
        GetTempPathA(sizeof(dir), dir);
        std::string path = std::string(dir) + "server_s7_test.cfg";
        FILE *f = fopen(path.c_str(), "w");
        fprintf(f,
                "cp CPSRV\n"
                "cp CPSRV2\n"
                "vfd CPSRV VFD1\n"
                "vfd CPSRV VFD2\n"
                "vfd CPSRV VFDBENCH\n"
                "connection CPSRV VFD1 PLC1\n"
                "connection CPSRV VFD1 PLC2\n"
                "connection CPSRV VFD1 PLC3\n"
                "connection CPSRV VFD1 PLC4\n"
                "connection CPSRV VFD1 PLC5\n"
                "connection CPSRV VFD1 PLC6\n"
                "connection CPSRV VFD1 PLC7\n"
                "connection CPSRV VFD1 PLC8\n"
                "connection CPSRV VFD2 REFUSER fail_initiate=-1\n"
                "connection CPSRV VFDBENCH BENCH\n");
        fclose(f);
        SetEnvironmentVariableA("S732_CONFIG", path.c_str());
    });
}

namespace {
std::mutex g_linesLock;
std::vector<std::string> g_lines;
void Record(const char *line)
{
    std::lock_guard<std::mutex> lock(g_linesLock);
    g_lines.push_back(line);
}
} // namespace

DebugLines::DebugLines()
{
    std::lock_guard<std::mutex> lock(g_linesLock);
    g_lines.clear();
    SetS7DebugHook(Record);
}

DebugLines::~DebugLines() { SetS7DebugHook(nullptr); }

std::vector<std::string> DebugLines::Lines() const
{
    std::lock_guard<std::mutex> lock(g_linesLock);
    return g_lines;
}

bool DebugLines::Contains(const std::string &part) const
{
    for (const auto &line : Lines())
        if (line.find(part) != std::string::npos)
            return true;
    return false;
}

} // namespace s7test
