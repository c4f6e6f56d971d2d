// brisko_defaults_probe.exe: runs the library's attach in a process of its
// own and prints the defaults it ended with, one "name=value" a line.
#include <cstdio>

#include "Brisko.h"

int main()
{
    if (!BriskoAttach(GetModuleHandleA(nullptr)))
        return 2;
    std::printf("ThreadSleepTime=%lu\n", static_cast<unsigned long>(g_dwThreadSleepTime));
    std::printf("GeneratedGroupName=%s\n", g_strGeneratedGroupName.c_str());
    std::printf("AutoStart=%lu\n", static_cast<unsigned long>(g_dwAutoStart));
    std::printf("StringLength=%lu\n", static_cast<unsigned long>(g_dwStringLength));
    std::printf("SignalConditioning=%s\n", g_strSignalConditioning.c_str());
    std::printf("LoEGU=%s\n", g_strLoEGU.c_str());
    std::printf("HiEGU=%s\n", g_strHiEGU.c_str());
    std::printf("HardwareOptions=%s\n", g_strHardwareOptions.c_str());
    std::printf("Formats=%d\n", g_cfData >= 0xC000 && g_cfDataTime >= 0xC000 && g_cfWriteComplete >= 0xC000);
    ProcessDetach(true);
    return 0;
}
