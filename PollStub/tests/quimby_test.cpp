// Quimby against the real server on the simulated controller. The test is
// the outside controller: it writes the command words of the shared block
// and watches the state word, the driver and the block's values.
#include <gtest/gtest.h>
#include <ole2.h>
#include <functional>
#include <string>
#include <vector>
#include "PollCommandBlock.h"
#include "server_session.h"

namespace {

using kivserver::Folder;

bool WaitFor(const std::function<bool()> &done, DWORD timeoutMs = 15000)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(50);
    }
    return true;
}

// A started Quimby.exe.
class CStub {
public:
    CStub()
    {
        std::string command = "\"" + Folder() + "Quimby.exe\"";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, Folder().c_str(), &startup, &process)) {
            CloseHandle(process.hThread);
            m_process = process.hProcess;
        }
    }
    ~CStub()
    {
        if (m_process) {
            if (WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT)
                TerminateProcess(m_process, 9);
            CloseHandle(m_process);
        }
    }
    bool Started() const { return m_process != NULL; }
    // The exit code, or STILL_ACTIVE while it runs.
    DWORD Wait(DWORD timeoutMs)
    {
        DWORD code = STILL_ACTIVE;
        if (m_process && WaitForSingleObject(m_process, timeoutMs) == WAIT_OBJECT_0)
            GetExitCodeProcess(m_process, &code);
        return code;
    }

private:
    HANDLE m_process = NULL;
};

// The controller's view of the shared block.
class CControllerSide {
public:
    bool Open()
    {
        std::string name = PollBlockName("Quimby.exe");
        WaitFor([&] { return (m_section = OpenFileMappingA(FILE_MAP_WRITE, FALSE, name.c_str())) != NULL; });
        if (!m_section)
            return false;
        m_block = static_cast<PollCommandBlock *>(MapViewOfFile(m_section, FILE_MAP_WRITE, 0, 0, 6));
        return m_block != nullptr;
    }
    ~CControllerSide()
    {
        if (m_block)
            UnmapViewOfFile(m_block);
        if (m_section)
            CloseHandle(m_section);
    }
    PollCommandBlock *operator->() { return m_block; }

private:
    HANDLE m_section = NULL;
    PollCommandBlock *m_block = nullptr;
};

TEST(Quimby, WithoutAServerItEndsWithAFailureCode)
{
    kivserver::KillServers();
    ASSERT_EQ(0u, kivserver::Run("/UnregServer"));
    CStub stub;
    ASSERT_TRUE(stub.Started());
    DWORD code = stub.Wait(30000);
    EXPECT_NE(STILL_ACTIVE, code);
    EXPECT_NE(0u, code);
    EXPECT_TRUE(kivserver::ServerProcesses().empty());
}

int CountLines(const std::string &log, const std::string &text)
{
    int count = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
        ++count;
    return count;
}

TEST(Quimby, TheControllerStartsAndStopsPollingThroughTheServer)
{
    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    {
        kivserver::ServerSession session;
        ASSERT_TRUE(session.Prepare()) << session.failure;
        ASSERT_TRUE(session.Put(20, 0, {1, 2}));
        ASSERT_TRUE(session.Configure({{"StubBlk", 9, "DB20,0", 2, 0.0f}})) << session.failure << "\n" << session.Log();
        IQORDriver *driver = session.driver;
        ASSERT_EQ(S_OK, driver->Stop());
        LONG handle = 0;
        VARIANT_BOOL found = VARIANT_FALSE;
        BSTR name = SysAllocString(L"StubBlk");
        ASSERT_EQ(S_OK, driver->ObjectName2Handle(name, &handle, &found));
        SysFreeString(name);

        auto running = [&] {
            VARIANT_BOOL on = VARIANT_FALSE;
            driver->get_Running(&on);
            return on != VARIANT_FALSE;
        };
        auto blockHolds = [&](std::vector<BYTE> expected) {
            VARIANT content;
            VariantInit(&content);
            std::vector<BYTE> bytes;
            if (SUCCEEDED(driver->GetRawDataBlockContent(handle, &content)) && V_VT(&content) == (VT_ARRAY | VT_UI1)) {
                BYTE *data = nullptr;
                SafeArrayAccessData(V_ARRAY(&content), reinterpret_cast<void **>(&data));
                bytes.assign(data, data + V_ARRAY(&content)->rgsabound[0].cElements);
                SafeArrayUnaccessData(V_ARRAY(&content));
            }
            VariantClear(&content);
            return bytes == expected;
        };
        auto starts = [&] { return CountLines(session.Log(), "\tDriver Started"); };

        CStub stub;
        ASSERT_TRUE(stub.Started());
        CControllerSide block;
        ASSERT_TRUE(block.Open());
        // The section exists a moment before the stub has written its marker.
        EXPECT_TRUE(WaitFor([&] { return block->marker == PollBlockMarker; })) << block->marker;

        // command written (0: none), whether to let the driver's restart gap
        // (5 s after a stop) pass first, another client's action, then what
        // the block and the driver must show.
        enum Other { Nobody, OtherStarts, OtherStops };
        const struct Row {
            const char *what;
            int16_t write;
            bool afterGap;
            Other other;
            int16_t command, state;
            bool running;
        } rows[] = {
            {"1 right after a stop: the refused start turns the command back", CommandRun, false, Nobody,
             CommandStop, StateStopped, false},
            {"1 starts the driver", CommandRun, true, Nobody, CommandRun, StateRunning, true},
            {"2 stops it", CommandStop, false, Nobody, CommandStop, StateStopped, false},
            {"a driver started by another client is adopted", 0, false, OtherStarts, CommandRun, StateRunning, true},
            {"a stop by another client is reported", 0, false, OtherStops, CommandStop, StateStopped, false},
            {"1 starts it again", CommandRun, true, Nobody, CommandRun, StateRunning, true},
        };
        for (const Row &row : rows) {
            SCOPED_TRACE(row.what);
            if (row.afterGap)
                Sleep(5500);
            int before = starts();
            if (row.write)
                block->command = row.write;
            if (row.other == OtherStarts) {
                ASSERT_EQ(S_OK, driver->Start(VARIANT_TRUE));
            }
            if (row.other == OtherStops) {
                ASSERT_EQ(S_OK, driver->Stop());
            }
            EXPECT_TRUE(WaitFor([&] { return block->command == row.command && block->state == row.state; }))
                << block->command << " " << block->state;
            EXPECT_TRUE(WaitFor([&] { return running() == row.running; }));
            if (row.other == OtherStarts) {
                Sleep(1500);
                EXPECT_EQ(before + 1, starts()) << "the stub started a running driver again";
            }
            if (row.running) {
                // Polling: the controller's new values reach the block.
                BYTE mark = BYTE(before * 2 + 7);
                ASSERT_TRUE(session.Put(20, 0, {mark, BYTE(mark + 1)}));
                EXPECT_TRUE(WaitFor([&] { return blockHolds({mark, BYTE(mark + 1)}); }));
            }
        }

        // The stub alone holds the server now: it stays up and serving.
        session.Release();
        Sleep(2000);
        EXPECT_FALSE(kivserver::ServerProcesses().empty()) << "the server closed under the stub";
        EXPECT_EQ(StateRunning, block->state);
        ASSERT_TRUE(session.Put(20, 0, {0x55, 0x66}));

        // 3 while running: the driver stops, the stub ends with state 3.
        int stops = CountLines(session.Log(), "\tDriver Stopped");
        block->command = CommandEnd;
        EXPECT_EQ(0u, stub.Wait(15000));
        EXPECT_EQ(StateStopping, block->state);
        EXPECT_EQ(CommandEnd, block->command);
        EXPECT_TRUE(WaitFor([&] { return CountLines(session.Log(), "\tDriver Stopped") > stops; }));
        // Its poll-stub reference was the last: the server closes.
        EXPECT_TRUE(WaitFor([] { return kivserver::ServerProcesses().empty(); })) << session.Log();
    }
    CoUninitialize();
}

} // namespace
