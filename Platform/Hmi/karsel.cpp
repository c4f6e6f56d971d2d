// Stand-in for the HMI's node-name library. The node name is
// QOR_HMI_NODE (default "NODE01"); QOR_HMI_KARSEL_STATUS, when set, is the
// status it answers instead of 0 (and then it fills nothing).
#include <windows.h>
#include <cstdlib>
#include <cstring>
#include "HmiAlarmLibs.h"
#include "HmiRecord.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        HmiRecord("karsel\tattach");
    else if (reason == DLL_PROCESS_DETACH)
        HmiRecord("karsel\tdetach");
    return TRUE;
}

extern "C" __declspec(dllexport) int __cdecl karsel_get_myname(char *nodeName)
{
    int status = atoi(HmiEnvironment("QOR_HMI_KARSEL_STATUS", "0").c_str());
    std::string name = HmiEnvironment("QOR_HMI_NODE", "NODE01").substr(0, KARSEL_NODE_NAME_SIZE - 1);
    if (status == 0 && nodeName)
        memcpy(nodeName, name.c_str(), name.size() + 1);
    HmiRecord("karsel_get_myname\t" + std::to_string(status) + "\t" + (status == 0 ? name : std::string()));
    return status;
}
