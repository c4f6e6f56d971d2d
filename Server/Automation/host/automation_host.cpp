// The out-of-process test's server: a stand-in for Hadrel's COM server
// module that starts the class factory on a new default tree, registers its
// class object and serves clients until one calls Quit (or a minute passes).
//   server_automation_host.exe <acronym> <ready event name>
// Exit code 0 after Quit, 2 after the time limit, 1 when start-up failed.
#include "DriverApp.h"
#include "Driver.h"
#include "EventLogRecorder.h"
#include "LogTestDoubles.h"
#include "ServerMsg.h"
#include "../tests/test_host.h"
#include <string>

namespace {

std::wstring TypeLibBesideProgram()
{
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    return s.substr(0, s.find_last_of(L'\\') + 1) + L"Hadrel.tlb";
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return 1;
    const std::string acronym = argv[1];
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
    if (!ready || FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;

    // The log's surroundings faked: no event log, no box waiting for a user.
    CEventLogRecorder eventLog;
    CRecordingMessageBox boxes;
    CServerMsg log("QOR");
    log.SetMessageBox(&boxes);
    log.OpenEventLog();

    ITypeLib *typeLib = nullptr;
    if (FAILED(LoadTypeLibEx(TypeLibBesideProgram().c_str(), REGKIND_NONE, &typeLib)))
        return 1;
    const DWORD mainThread = GetCurrentThreadId();
    apptest::TestHost host;
    host.onClose = [mainThread] { return PostThreadMessageA(mainThread, WM_QUIT, 0, 0) != FALSE; };
    CDriverAppFactory *factory = new CDriverAppFactory;
    int exitCode = 1;
    DWORD cookie = 0;
    if (SUCCEEDED(factory->StartUp(&host, acronym, "QOR I/O Server", "7.10", typeLib)) &&
        SUCCEEDED(factory->App()->SetConfigurationRoot(nullptr)) &&
        SUCCEEDED(CoRegisterClassObject(CLSID_QORDriver, static_cast<IClassFactory *>(factory), CLSCTX_LOCAL_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie))) {
        host.app = factory->App();
        SetEvent(ready);
        // A client that never says Quit must not leave the server behind.
        UINT_PTR limit = SetTimer(nullptr, 0, 60000, nullptr);
        exitCode = 0;
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            if (msg.message == WM_TIMER && msg.wParam == limit) {
                exitCode = 2;
                break;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        KillTimer(nullptr, limit);
        CoRevokeClassObject(cookie);
    }
    factory->Shutdown();
    factory->Release();
    typeLib->Release();
    CloseHandle(ready);
    CoUninitialize();
    return exitCode;
}
