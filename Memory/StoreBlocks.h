// Walking the store's live data blocks from outside: the index and status of
// each block in use, by any process. Used where a process must deal with the
// blocks of a server that is gone (its successor, or the HMI library).
#pragma once
#include "CommonMemory.h"

// Calls visit(index, status) for each block in use, at most as many as the
// store counts; entries are handed out from 0 upward, so the walk stops after
// a long run of unused ones.
template <class Visit>
void ForEachLiveBlock(CCommonMemory &store, Visit visit)
{
    long remaining = store.GetDataBlockCount();
    unsigned misses = 0;
    for (unsigned index = 0; index < 0xFFFF && remaining > 0 && misses < 4096; ++index) {
        unsigned short status = 0;
        if (store.GetDataBlockStatus(static_cast<unsigned short>(index), &status, nullptr) != STORE_OK) {
            ++misses;
            continue;
        }
        misses = 0;
        --remaining;
        visit(static_cast<unsigned short>(index), status);
    }
}
