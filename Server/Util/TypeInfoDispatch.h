// IDispatch of a dual interface answered from one held type information (or
// none, when loading it failed): the server's automation parts share it.
#pragma once
#include <windows.h>
#include <oleauto.h>

struct TypeInfoDispatch {
    static HRESULT Count(UINT *count)
    {
        if (!count)
            return E_INVALIDARG;
        *count = 1;
        return S_OK;
    }
    static HRESULT Info(ITypeInfo *held, UINT index, ITypeInfo **info)
    {
        if (!info)
            return E_INVALIDARG;
        *info = nullptr;
        if (index != 0)
            return DISP_E_BADINDEX;
        if (!held)
            return E_FAIL;
        held->AddRef();
        *info = held;
        return S_OK;
    }
    static HRESULT Ids(ITypeInfo *held, REFIID iid, LPOLESTR *names, UINT count, DISPID *ids)
    {
        if (!IsEqualIID(iid, IID_NULL))
            return DISP_E_UNKNOWNINTERFACE;
        return held ? DispGetIDsOfNames(held, names, count, ids) : E_FAIL;
    }
    static HRESULT Call(void *object, ITypeInfo *held, DISPID id, REFIID iid, WORD flags, DISPPARAMS *params,
                        VARIANT *result, EXCEPINFO *exception, UINT *argError)
    {
        if (!IsEqualIID(iid, IID_NULL))
            return DISP_E_UNKNOWNINTERFACE;
        if (!held)
            return E_FAIL;
        // A failing member's error information becomes the EXCEPINFO here.
        return DispInvoke(object, held, id, flags, params, result, exception, argError);
    }
};
