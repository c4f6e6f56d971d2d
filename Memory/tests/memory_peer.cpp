// The second process of the store's two-process tests. Arguments: the store
// name, a command and its numbers. The exit code is the verdict: 0 success.
//
//   blocks N            creates N seeded 260-byte blocks (seeds 0..N-1)
//   check-block I S     block I holds the bytes, status and owner of seed S
//   outputs FIRST N     adds N numbered output records, waiting while the queue is full
//   hold-input-lock     takes "%s_InputLock", sets "%s_PeerReady" and waits to be killed
#include <windows.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include "CommonMemory.h"
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

int HoldInputLock(CCommonMemory &store, const std::string &name)
{
    if (store.GetDataBlockCount() < 0)
        return 2;
    HANDLE lock = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, (name + "_InputLock").c_str());
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, (name + "_PeerReady").c_str());
    if (!lock || !ready || WaitForSingleObject(lock, INFINITE) != WAIT_OBJECT_0)
        return 3;
    SetEvent(ready);
    Sleep(INFINITE);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return 1;
    std::string name = argv[1], command = argv[2];
    unsigned long a = argc > 3 ? strtoul(argv[3], NULL, 0) : 0;
    unsigned long b = argc > 4 ? strtoul(argv[4], NULL, 0) : 0;
    CCommonMemory store(STORE_STANDARD_GROUPS, name.c_str());
    if (command == "blocks")
        return MakeBlocks(store, a);
    if (command == "check-block")
        return CheckBlock(store, static_cast<unsigned short>(a), b);
    if (command == "outputs")
        return AddOutputs(store, a, b);
    if (command == "hold-input-lock")
        return HoldInputLock(store, name);
    return 1;
}
