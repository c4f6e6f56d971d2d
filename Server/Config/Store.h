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

// A driver's store by its name. Drivers of one name that live side by side
// (an import builds its tree beside the present one) share one store object,
// which goes with the last of them: the present tree's threads may hold the
// pointer the newer driver installed, so it must not be deleted under them.
// A new store is installed; null when it cannot be made.
CCommonMemory *AcquireDriverStore(const char *name);
// Gives a driver's share back; the last one deletes the store, after
// installing another driver's (or none).
void ReleaseDriverStore(CCommonMemory *store);

// For a server that starts as the only one of its name: every block still in
// the store of that name was left by a server that is gone (the HMI's open
// store kept it). They are destroyed, so that the HMI's items no longer
// match them and find their blocks anew. Answers how many there were.
int DestroyBlocksLeftInStore(const char *name);
