// The VARIANT arrays that carry names, values and results to and from the
// server's GetPropertyData and SetPropertyData.
#pragma once
#include <windows.h>
#include <oleauto.h>

// A VARIANT that clears itself.
struct Var {
    VARIANT v;
    Var() { VariantInit(&v); }
    ~Var() { VariantClear(&v); }
    Var(const Var &) = delete;
    Var &operator=(const Var &) = delete;
};

// A one-dimensional VT_VARIANT array held by a VARIANT (VT_ARRAY|VT_VARIANT).
inline bool MakeArray(Var &holder, size_t count)
{
    SAFEARRAY *array = SafeArrayCreateVector(VT_VARIANT, 0, ULONG(count));
    if (!array)
        return false;
    V_VT(&holder.v) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&holder.v) = array;
    return true;
}

// The array a result VARIANT holds (the server may answer by reference).
inline SAFEARRAY *HeldArray(VARIANT &holder)
{
    if (V_VT(&holder) == (VT_ARRAY | VT_VARIANT))
        return V_ARRAY(&holder);
    if (V_VT(&holder) == (VT_BYREF | VT_ARRAY | VT_VARIANT) && V_ARRAYREF(&holder))
        return *V_ARRAYREF(&holder);
    return nullptr;
}
