// The process's shared memory store, through which data blocks publish
// their bytes and status and the HMI side sends writes. The driver installs
// the store it owns; until then one is opened on first use.
#pragma once
#include "CommonMemory.h"

// The store in use (flag set 15, driver name "QOR" when opened here).
CCommonMemory *ServerStore();
// Installs the store to use (not owned; null goes back to the lazily
// opened one).
void SetServerStore(CCommonMemory *store);
