// The guard of Aleron's interface members: an exception that escapes the
// body answers E_FAIL instead of crossing the interface.
#pragma once
#include <windows.h>

namespace aleron {

template <class F> HRESULT Guarded(F &&body)
{
    try {
        return body();
    } catch (...) {
        return E_FAIL;
    }
}

} // namespace aleron
