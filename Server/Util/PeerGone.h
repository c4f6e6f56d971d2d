// Whether a failed call into another process means that the process or its
// object is gone for good, so no later call can succeed either.
#pragma once
#include <windows.h>
#include <winerror.h>

inline bool IsPeerGone(HRESULT hr)
{
    switch (hr) {
    case RPC_E_DISCONNECTED:
    case RPC_E_SERVER_DIED:
    case RPC_E_SERVER_DIED_DNE:
    case CO_E_OBJNOTCONNECTED:
    case HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED):
        return true;
    default:
        return false;
    }
}
