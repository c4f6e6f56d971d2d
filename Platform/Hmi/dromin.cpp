// Stand-in for the HMI's alarm library: records each line with its
// arguments. QOR_HMI_DROMIN_HOLD names a pair of events
// ("<name>_Entered", "<name>_Release"): the call sets the first once inside
// and stays until the second is set, as a slow alarm system would.
#include <windows.h>
#include <string>
#include "HmiAlarmLibs.h"
#include "HmiRecord.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        HmiRecord("dromin\tattach");
    else if (reason == DLL_PROCESS_DETACH)
        HmiRecord("dromin\tdetach");
    return TRUE;
}

extern "C" __declspec(dllexport) int __cdecl dromin_send_text(const char *line, int kind, const char *nodeName,
                                                              const unsigned short *time, int flag1, int flag2,
                                                              int flag3)
{
    std::string words;
    for (int i = 0; i < 8; ++i)
        words += (i ? "," : "") + std::to_string(time ? time[i] : 0);
    HmiRecord("dromin_send_text\t" + std::string(line ? line : "(null)") + "\t" + std::to_string(kind) + "\t" +
              (nodeName ? nodeName : "(null)") + "\t" + words + "\t" + std::to_string(flag1) + "\t" +
              std::to_string(flag2) + "\t" + std::to_string(flag3));

    std::string hold = HmiEnvironment("QOR_HMI_DROMIN_HOLD", "");
    if (!hold.empty()) {
        HANDLE entered = OpenEventA(EVENT_MODIFY_STATE, FALSE, (hold + "_Entered").c_str());
        HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, (hold + "_Release").c_str());
        if (entered)
            SetEvent(entered);
        if (release)
            WaitForSingleObject(release, 60000);
        if (entered)
            CloseHandle(entered);
        if (release)
            CloseHandle(release);
    }
    HmiRecord("dromin_send_text\tleave");
    return 0;
}
