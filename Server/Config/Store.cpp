#include "Store.h"
#include "StoreBlocks.h"
#include <atomic>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace {
std::atomic<CCommonMemory *> g_installed{nullptr};

struct SharedStore {
    std::string name;
    CCommonMemory *store;
    int users;
};
std::mutex g_sharedLock;
std::vector<SharedStore> g_shared;
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

CCommonMemory *AcquireDriverStore(const char *name)
{
    std::string key = name ? name : "";
    std::lock_guard<std::mutex> guard(g_sharedLock);
    for (SharedStore &shared : g_shared)
        if (shared.name == key) {
            ++shared.users;
            SetServerStore(shared.store);
            return shared.store;
        }
    CCommonMemory *store = new (std::nothrow) CCommonMemory(STORE_STANDARD_GROUPS, key.c_str());
    if (!store)
        return nullptr;
    g_shared.push_back(SharedStore{key, store, 1});
    SetServerStore(store);
    return store;
}

int DestroyBlocksLeftInStore(const char *name)
{
    CCommonMemory store(STORE_STANDARD_GROUPS, name ? name : "");
    int destroyed = 0;
    ForEachLiveBlock(store, [&](unsigned short index, unsigned short) {
        if (store.DestroyDataBlock(index) == STORE_OK)
            ++destroyed;
    });
    return destroyed;
}

void ReleaseDriverStore(CCommonMemory *store)
{
    std::lock_guard<std::mutex> guard(g_sharedLock);
    for (auto it = g_shared.begin(); it != g_shared.end(); ++it) {
        if (it->store != store)
            continue;
        if (--it->users > 0)
            return;
        g_shared.erase(it);
        if (g_installed.load() == store)
            SetServerStore(g_shared.empty() ? nullptr : g_shared.back().store);
        delete store;
        return;
    }
}
