// Quimby: starts and stops the server's polling on the command words that an
// outside controller writes into the shared command block, and writes the
// driver's state back. One thread, no window, no messages; it holds the
// server as a poll-stub client, which keeps the server from closing.
#include <windows.h>
#include <ole2.h>
#include "PeerGone.h"
#include "PollCommandBlock.h"
#include "QORDriver.h"

namespace {

// Exit codes: the block could not be made, the server could not be reached
// or was lost.
enum { ExitDone = 0, ExitNoBlock = 1, ExitNoServer = 2, ExitServerLost = 3 };

const DWORD WatchMs = 500;
const DWORD SettleMs = 100;

struct ServerLost {};

class CPollStub {
public:
    CPollStub(PollCommandBlock *block, IQORDriver *driver) : m_block(block), m_driver(driver) {}

    void Run()
    {
        while (m_block->command != CommandEnd) {
            bool alreadyRunning = false;
            if (Running()) {
                WriteCommand(CommandRun);
                m_block->state = StateRunning;
                alreadyRunning = true;
            }
            while (m_block->command == CommandRun) {
                if (!alreadyRunning)
                    m_block->state = Check(m_driver->Start(VARIANT_FALSE)) ? StateRunning : StateStopped;
                if (m_block->command == CommandStop) {
                    m_block->state = StateStopping;
                    Check(m_driver->Stop());
                } else if (Watch()) {
                    m_block->state = StateStopping;
                    Check(m_driver->Stop());
                }
                m_block->state = StateStopped;
                Sleep(SettleMs);
                alreadyRunning = false;
            }
            Sleep(WatchMs);
        }
    }

private:
    // Watches the running driver; true when the controller asked for the
    // stop (or the end), false when the driver stopped by itself.
    bool Watch()
    {
        for (;;) {
            Sleep(WatchMs);
            if (!Running()) {
                WriteCommand(CommandStop);
                return false;
            }
            int16_t command = m_block->command;
            if (command == CommandStop || command == CommandEnd)
                return true;
        }
    }

    bool Running()
    {
        VARIANT_BOOL running = VARIANT_FALSE;
        return Check(m_driver->get_Running(&running)) && running != VARIANT_FALSE;
    }

    bool Check(HRESULT hr)
    {
        if (IsPeerGone(hr))
            throw ServerLost();
        return SUCCEEDED(hr);
    }

    // The stub's own command writes never overwrite an end command that
    // the controller has just written.
    void WriteCommand(int16_t command)
    {
        for (;;) {
            int16_t seen = m_block->command;
            if (seen == CommandEnd)
                return;
            if (InterlockedCompareExchange16(reinterpret_cast<volatile SHORT *>(&m_block->command), command,
                                             seen) == seen)
                return;
        }
    }

    PollCommandBlock *m_block;
    IQORDriver *m_driver;
};

} // namespace

int main()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(NULL, path, sizeof path);
    std::string name = PollBlockName(path);
    HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, sizeof(PollCommandBlock),
                                        name.c_str());
    if (!section)
        return ExitNoBlock;
    bool created = GetLastError() != ERROR_ALREADY_EXISTS;
    auto *block = static_cast<PollCommandBlock *>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, sizeof(PollCommandBlock)));
    if (!block) {
        CloseHandle(section);
        return ExitNoBlock;
    }
    if (created) {
        block->marker = PollBlockMarker;
        block->command = 0;
        block->state = 0;
    }

    int exitCode = ExitDone;
    IQORDriver *driver = nullptr;
    if (FAILED(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED))) {
        exitCode = ExitNoServer;
    } else {
        HRESULT hr = CoCreateInstance(CLSID_QORDriver, NULL,
                                      CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
                                      IID_IQORDriver, reinterpret_cast<void **>(&driver));
        if (FAILED(hr) || !driver || FAILED(driver->put_PollRef(1))) {
            exitCode = ExitNoServer;
        } else {
            try {
                CPollStub(block, driver).Run();
            } catch (const ServerLost &) {
                exitCode = ExitServerLost;
            }
            if (exitCode == ExitDone) {
                LONG remaining = 0;
                driver->get_PollRef(&remaining);
            }
        }
        if (driver)
            driver->Release();
        CoUninitialize();
    }
    block->state = StateStopping;
    UnmapViewOfFile(block);
    CloseHandle(section);
    return exitCode;
}
