// What the kit tests share: COM in the multithreaded apartment, the task
// allocator and an event log recorded instead of written (the library's
// attach would make both), a counted owner object, and a recording sink.
#pragma once
#include <windows.h>
#include <ocidl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EventLogRecorder.h"
#include "Object.h"
#include "OpcCommon.h"
#include "OpcKit.h"

class KitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        ASSERT_EQ(S_OK, CoGetMalloc(1, &g_pIMalloc));
        g_pEventLog = new CEventLog("QORKitTest");
        m_liveAtStart = LiveObjectCount();
    }
    void TearDown() override
    {
        EXPECT_EQ(m_liveAtStart, LiveObjectCount()) << "objects of the class layer left alive";
        delete g_pEventLog;
        g_pEventLog = nullptr;
        g_pIMalloc->Release();
        g_pIMalloc = nullptr;
        CoUninitialize();
    }
    CEventLogRecorder m_events;
    unsigned m_liveAtStart = 0;
};

// An owner object: counts its references, answers only IUnknown (and the
// container it is given).
class CountedOwner : public IUnknown {
public:
    IUnknown *container = nullptr;
    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        *ppv = nullptr;
        if (riid == IID_IUnknown)
            *ppv = this;
        else if (riid == IID_IConnectionPointContainer && container)
            *ppv = container;
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&refs); }
    LONG refs = 1;
};

// A client sink for IOPCShutdown: records what it is told and counts its
// references, so a test sees every hand-off.
class RecordingSink : public IOPCShutdown {
public:
    bool answersShutdown = true;
    std::vector<std::wstring> reasons;
    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        *ppv = nullptr;
        if (riid == IID_IUnknown || (riid == IID_IOPCShutdown && answersShutdown))
            *ppv = static_cast<IOPCShutdown *>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&refs); }
    STDMETHODIMP ShutdownRequest(LPCWSTR reason) override
    {
        reasons.push_back(reason ? reason : L"(null)");
        return S_OK;
    }
    LONG refs = 1;
};
