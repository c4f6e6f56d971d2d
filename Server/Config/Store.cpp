#include "Store.h"
#include <atomic>
#include <mutex>

namespace {
std::atomic<CCommonMemory *> g_installed{nullptr};
}

CCommonMemory *ServerStore()
{
    if (CCommonMemory *store = g_installed.load())
        return store;
    // Opened once and kept for the life of the process: blocks may still
    // reach it while static objects are torn down.
    static CCommonMemory *own = new CCommonMemory(STORE_STANDARD_GROUPS, "QOR");
    return own;
}

void SetServerStore(CCommonMemory *store) { g_installed.store(store); }
