// The automation object in another process: starts the host program
// (host/automation_host.cpp), which registers the class object, and gets
// the object through the class factory, so that every call goes through
// the type-library marshaller. Used inside a fixture's SetUp/TearDown.
#pragma once
#include "app_fixture.h"

namespace apptest {

class RemoteHost {
public:
    // COM in the given apartment, the type library registered, the host
    // started and its object created.
    void Start(DWORD apartment)
    {
        blocktest::UseCatalogue();   // the host inherits the catalogue's name
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, apartment));
        m_com = true;
        ITypeLib *lib = nullptr;
        ASSERT_EQ(S_OK, LoadTypeLibEx(TypeLibPath().c_str(), REGKIND_NONE, &lib));
        std::wstring path = TypeLibPath();
        // Registration installs the marshaller of every interface in the prefix.
        ASSERT_EQ(S_OK, RegisterTypeLib(lib, &path[0], nullptr));
        lib->Release();

        acronym = "QH" + std::to_string(GetCurrentProcessId());
        std::string eventName = "QorAutomationHostReady" + std::to_string(GetCurrentProcessId());
        ready = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
        ASSERT_NE(nullptr, ready);
        std::string command = "server_automation_host.exe " + acronym + " " + eventName;
        std::wstring program = ProgramFolder() + L"server_automation_host.exe";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        std::string programA(program.begin(), program.end());
        ASSERT_TRUE(CreateProcessA(programA.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                   &startup, &process));
        CloseHandle(process.hThread);
        HANDLE waits[2] = {ready, process.hProcess};
        ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, waits, FALSE, 30000)) << "the host never got ready";

        IClassFactory *factory = nullptr;
        ASSERT_EQ(S_OK, CoGetClassObject(CLSID_QORDriver, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory,
                                         reinterpret_cast<void **>(&factory)));
        HRESULT hr = factory->CreateInstance(nullptr, IID_IQORDriver, reinterpret_cast<void **>(&driver));
        factory->Release();
        ASSERT_EQ(S_OK, hr);
    }
    // Releases the object, ends a host still running, leaves COM.
    void Stop()
    {
        if (driver)
            driver->Release();
        driver = nullptr;
        if (process.hProcess) {
            if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
                TerminateProcess(process.hProcess, 3);
                WaitForSingleObject(process.hProcess, 10000);
            }
            CloseHandle(process.hProcess);
            process.hProcess = nullptr;
        }
        if (ready)
            CloseHandle(ready);
        ready = nullptr;
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, ("Software\\Veltrane\\Drivers\\" + acronym).c_str());
        if (m_com)
            CoUninitialize();
        m_com = false;
    }
    // Quit through the object and wait for the host's end; its exit code.
    DWORD QuitAndWait()
    {
        if (driver) {
            driver->Quit();
            driver->Release();
            driver = nullptr;
        }
        if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0)
            return DWORD(-1);
        DWORD exitCode = 99;
        GetExitCodeProcess(process.hProcess, &exitCode);
        return exitCode;
    }

    std::string acronym;
    HANDLE ready = nullptr;
    PROCESS_INFORMATION process = {};
    IQORDriver *driver = nullptr;

private:
    bool m_com = false;
};

} // namespace apptest
