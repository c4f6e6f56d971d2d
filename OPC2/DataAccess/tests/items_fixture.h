// The items tests' shared I/O server: Hadrel.exe on the simulated controller
// with three data blocks, set up once for the test program, Brisko and the
// proxy library registered, and DB10's first word counting every 100 ms.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ProcessRunner.h"
#include "server_session.h"

class ItemsEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        session = new kivserver::ServerSession;
        const std::vector<kivserver::BlockDefinition> blocks = {
            {"CountBlk", 1, "DB10,0", 20, 0.0f},   // INT words; the first one counts
            {"BitBlk", 9, "DB12,0", 4, 0.0f},      // BYTE
            {"StrBlk", 12, "DB13,0", 262, 0.0f},   // STRING
        };
        ASSERT_TRUE(session->Prepare()) << session->failure;
        ASSERT_TRUE(session->Configure(blocks)) << session->failure << "\n" << session->Log();
        ASSERT_EQ(0u, RunProgram("regsvr32.exe /s \"" + BinFolder() + "OpcProxy.dll\""));
        ASSERT_EQ(0u, RunProgram("regsvr32.exe /s \"" + BinFolder() + "Brisko.dll\""));
        counting = true;
        counter = std::thread([this] {
            for (WORD n = 1; counting; ++n) {
                session->Put(10, 0, {BYTE(n >> 8), BYTE(n)});
                Sleep(100);
            }
        });
    }
    void TearDown() override
    {
        counting = false;
        if (counter.joinable())
            counter.join();
        RunProgram("regsvr32.exe /s /u \"" + BinFolder() + "Brisko.dll\"");
        delete session;
        session = nullptr;
        CoUninitialize();
    }
    static ItemsEnvironment *instance;
    kivserver::ServerSession *session = nullptr;
    std::atomic<bool> counting{false};
    std::thread counter;
};

class ItemsFixture : public ::testing::Test {
protected:
    static kivserver::ServerSession *Session() { return ItemsEnvironment::instance->session; }
};
