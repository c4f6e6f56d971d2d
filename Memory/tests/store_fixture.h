// Helpers shared by the store's tests: a fresh store name per test, the
// driver key's size settings for that name, a raw view of a named area to
// check layouts, and the second process (memory_peer.exe).
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>
#include "CommonMemory.h"
#include "EventLogRecorder.h"

const DWORD Unit = 65536; // the allocation granularity the tests assume

// A recorder that also hears the store library's own event log, which is
// apart from the test program's.
class StoreEventRecorder : public CEventLogRecorder {
public:
    StoreEventRecorder() : m_previous(SetStoreEventLogBackend(this)) {}
    ~StoreEventRecorder() override { SetStoreEventLogBackend(m_previous); }

private:
    IEventLogBackend *m_previous;
};

// A store name that no other test (or earlier run) uses.
std::string FreshStoreName(const char *tag);

// Writes "MaxSize", "GrowIncrement" and "OverrunBuffer" (a value of 0 is left
// out) under the driver key of name; removes the key again.
class StoreSettings {
public:
    StoreSettings(const std::string &name, DWORD maxSize, DWORD growIncrement = 0, DWORD overrunBuffer = 0);
    ~StoreSettings();

private:
    std::string m_key;
};

// A view of the named section name with its first bytes committed, to read
// what the store wrote there.
class RawArea {
public:
    RawArea(const std::string &name, DWORD bytes);
    ~RawArea();
    bool IsOpen() const { return m_base != NULL; }
    template <class T> T *At(DWORD offset) const { return reinterpret_cast<T *>(m_base + offset); }

private:
    HANDLE m_section;
    BYTE *m_base;
};

// memory_peer.exe in a process of its own, with the store name as its first
// argument. Its exit code is its verdict (0 success).
class PeerProcess {
public:
    explicit PeerProcess(const std::vector<std::string> &arguments);
    ~PeerProcess();
    bool Started() const { return m_process.hProcess != NULL; }
    HANDLE Handle() const { return m_process.hProcess; }
    // Waits for the peer's "<store>_PeerReady" event or its end; true when ready.
    bool WaitReady();
    DWORD Join(); // waits for the end, answers the exit code
    void Kill();

private:
    PROCESS_INFORMATION m_process;
    HANDLE m_ready;
};

// Runs work on a thread of its own; the caller waits for and closes the handle.
HANDLE StartThread(std::function<void()> work);

// An output record whose address word carries a sequence number.
OutputRecord NumberedOutput(uint32_t number);

// The bytes and settings that a peer's block seed gives a 260-byte block:
// data in [0, 250), a FILETIME at 250, as the server lays out its blocks.
struct SeededBlock {
    enum { Size = 260, TimeOffset = 250, BytesInUse = 250 };
    BYTE bytes[Size];
    unsigned short status;
    unsigned long owner;
    explicit SeededBlock(unsigned seed);
};
