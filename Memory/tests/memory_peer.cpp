// The second process of the store's two-process tests. Arguments: the store
// name, a command and its numbers. The exit code is the verdict: 0 success.
//
//   blocks N            creates N seeded 260-byte blocks (seeds 0..N-1)
//   check-block I S     block I holds the bytes, status and owner of seed S
//   outputs FIRST N     adds N numbered output records, waiting while the queue is full
//   hold GROUP          takes the lock of GROUP (input, output, exception or
//                       event) as the store's methods do, sets "%s_PeerReady"
//                       and waits to be killed
//   uniform-write I N T sets block I (260 bytes) N times in each of T threads,
//                       every time to one byte repeated, the byte changing
//   uniform-read I N T  gets block I N times in each of T threads; exit code 4
//                       when a block came back with differing bytes
#include <windows.h>
#include <stdlib.h>
#include <string.h>
#include <functional>
#include <string>
#include <vector>
#include "CommonMemory.h"
#include "StoreLock.h"
#include "store_fixture.h"

namespace {

int MakeBlocks(CCommonMemory &store, unsigned count)
{
    for (unsigned seed = 0; seed < count; ++seed) {
        SeededBlock block(seed);
        unsigned short index;
        if (store.CreateDataBlock(&index, SeededBlock::Size, block.owner) != 0 ||
            store.SetDataBlock(index, SeededBlock::Size, block.bytes, 0) != 0 ||
            store.SetBytesInUse(index, SeededBlock::BytesInUse) != 0 || store.SetDataBlockStatus(index, block.status) != 0)
            return 2;
    }
    return 0;
}

int CheckBlock(CCommonMemory &store, unsigned short index, unsigned seed)
{
    SeededBlock expected(seed);
    BYTE bytes[SeededBlock::Size];
    unsigned short status;
    unsigned long owner;
    if (store.GetDataBlock(index, SeededBlock::Size, bytes, 0, 1) != 0 ||
        store.GetDataBlockStatus(index, &status, &owner) != 0)
        return 2;
    return memcmp(bytes, expected.bytes, sizeof(bytes)) == 0 && status == expected.status && owner == expected.owner
               ? 0
               : 3;
}

int AddOutputs(CCommonMemory &store, uint32_t first, uint32_t count)
{
    for (uint32_t n = first; n < first + count; ++n) {
        OutputRecord record = NumberedOutput(n);
        unsigned long result;
        while ((result = store.AddOutput(&record)) == STORE_OVERRUN)
            Sleep(1);
        if (result != 0)
            return 2;
    }
    return 0;
}

const char *const GroupLocks[] = {"input", "_InputLock", "output", "_OutputLock", "exception", "_ExceptionLock",
                                   "event", "_EventLock"};

int Hold(CCommonMemory &store, const std::string &name, const std::string &group)
{
    unsigned long count;
    if (store.GetDataBlockCount() < 0 || store.GetOutputCount(&count) != 0)
        return 2;
    for (unsigned g = 0; g < StoreLockGroups; ++g) {
        if (group != GroupLocks[2 * g])
            continue;
        StoreLock lock;
        HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, (name + "_PeerReady").c_str());
        if (!ready || lock.Open(name.c_str(), g, (name + GroupLocks[2 * g + 1]).c_str()) != 0 || lock.Acquire() != 0)
            return 3;
        SetEvent(ready);
        Sleep(INFINITE);
    }
    return 1;
}

// Threads that each run work count times; the exit code is the worst verdict.
int InThreads(unsigned threads, std::function<int(unsigned thread)> work)
{
    std::vector<HANDLE> handles;
    std::vector<int> verdicts(threads, 0);
    for (unsigned t = 0; t < threads; ++t)
        handles.push_back(StartThread([&, t] { verdicts[t] = work(t); }));
    WaitForMultipleObjects(DWORD(handles.size()), handles.data(), TRUE, INFINITE);
    int worst = 0;
    for (unsigned t = 0; t < threads; ++t) {
        CloseHandle(handles[t]);
        if (verdicts[t] > worst)
            worst = verdicts[t];
    }
    return worst;
}

int UniformWrite(CCommonMemory &store, unsigned short index, unsigned long count, unsigned threads)
{
    return InThreads(threads, [&](unsigned thread) {
        BYTE bytes[SeededBlock::Size];
        for (unsigned long n = 0; n < count; ++n) {
            memset(bytes, static_cast<BYTE>(n * threads + thread), sizeof(bytes));
            if (store.SetDataBlock(index, sizeof(bytes), bytes, 0) != 0)
                return 2;
        }
        return 0;
    });
}

int UniformRead(CCommonMemory &store, unsigned short index, unsigned long count, unsigned threads)
{
    return InThreads(threads, [&](unsigned) {
        BYTE bytes[SeededBlock::Size];
        for (unsigned long n = 0; n < count; ++n) {
            if (store.GetDataBlock(index, sizeof(bytes), bytes, 0, 1) != 0)
                return 2;
            for (BYTE b : bytes)
                if (b != bytes[0])
                    return 4;
        }
        return 0;
    });
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return 1;
    std::string name = argv[1], command = argv[2];
    unsigned long a = argc > 3 ? strtoul(argv[3], NULL, 0) : 0;
    unsigned long b = argc > 4 ? strtoul(argv[4], NULL, 0) : 0;
    unsigned long c = argc > 5 ? strtoul(argv[5], NULL, 0) : 1;
    CCommonMemory store(STORE_STANDARD_GROUPS, name.c_str());
    if (command == "blocks")
        return MakeBlocks(store, a);
    if (command == "check-block")
        return CheckBlock(store, static_cast<unsigned short>(a), b);
    if (command == "outputs")
        return AddOutputs(store, a, b);
    if (command == "hold" && argc > 3)
        return Hold(store, name, argv[3]);
    if (command == "uniform-write")
        return UniformWrite(store, static_cast<unsigned short>(a), b, c);
    if (command == "uniform-read")
        return UniformRead(store, static_cast<unsigned short>(a), b, c);
    return 1;
}
