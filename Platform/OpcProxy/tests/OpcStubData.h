// What the stub OPC server (opc_stub_server.exe) and its client test agree
// on: the class, and every argument and answer of each call. Each side
// checks what it receives against these values, so a field that the proxy or
// stub moved, cut or dropped shows as a failed call on one side.
#pragma once
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <cstring>
#include <cwchar>
#include <string>

#include "OpcCommon.h"
#include "OpcDataAccess.h"

// The stub server's class, registered by the test as a local server.
// {6A1F63B4-2C5D-4E8A-9B1C-3D7E5F2A8C40}
static const CLSID CLSID_OpcStubServer = {0x6a1f63b4, 0x2c5d, 0x4e8a, {0x9b, 0x1c, 0x3d, 0x7e, 0x5f, 0x2a, 0x8c, 0x40}};

namespace stub {

// Non-ASCII texts, so that a conversion to a code page would show.
const wchar_t kGroupName[] = L"Gruppe \u00c4\u00df \u4e2d";
const wchar_t kClientName[] = L"Client \u00e9\u00e8";
const wchar_t kErrorText[] = L"Duplicate name \u00fc";
const wchar_t kVendor[] = L"Stub OPC \u00e9 v7.20.1";
const wchar_t kShutdownReason[] = L"Stub going down \u00e4";
const wchar_t kPublicName[] = L"Public";
const wchar_t kBrowseTo[] = L"Channel1";
const wchar_t kFilter[] = L"DB*";
const wchar_t kLeaves[2][8] = {L"DB10", L"DB11\u00b5"};
const wchar_t kItemID[] = L"Channel1.Device1.DB10,W0";
const wchar_t kAccessPath[] = L"Path\u00f8";
const wchar_t kNewName[] = L"Renamed";
const wchar_t kCloneName[] = L"Clone";
const wchar_t kTextValue[] = L"Text \u20ac";
const wchar_t kPropertyNames[3][16] = {L"Item Value", L"Item Quality", L"Item Timestamp"};

const OPCHANDLE kServerGroup = 0xCAFE0001;
const OPCHANDLE kClientGroup = 0x11223344;
const OPCHANDLE kItems[2] = {0x1001, 0x1002};
const OPCHANDLE kClientItems[2] = {0xC001, 0xC002};
const DWORD kRequestedRate = 250, kRevisedRate = 500;
const LONG kTimeBias = -60;
const FLOAT kDeadband = 2.5f;
const DWORD kLocale = 2048;
const DWORD kConnection = 0xC1, kTransaction = 77, kCancelId = 9, kTransaction2 = 5;
const DWORD kProperties[3] = {2, 3, 4};
const VARTYPE kPropertyTypes[3] = {VT_VARIANT, VT_I2, VT_DATE};
const BYTE kBlob[5] = {1, 2, 0, 0xFE, 0x80};
const HRESULT kItemErrors[2] = {S_OK, OPC_E_BADRIGHTS};
const WORD kQualities[2] = {0xC0, 0x18};
const FILETIME kTimes[2] = {{0x11111111, 0x01D00000}, {0x22222222, 0x01D00001}};
const FILETIME kStartTime = {0x89ABCDEF, 0x01D71234};

// The values passed and answered: a float and a text.
inline void MakeValue(int index, VARIANT *v)
{
    VariantInit(v);
    if (index == 0) {
        V_VT(v) = VT_R4;
        V_R4(v) = -12.75f;
    } else {
        V_VT(v) = VT_BSTR;
        V_BSTR(v) = SysAllocString(kTextValue);
    }
}
inline bool IsValue(int index, const VARIANT *v)
{
    if (index == 0)
        return V_VT(v) == VT_R4 && V_R4(v) == -12.75f;
    return V_VT(v) == VT_BSTR && V_BSTR(v) && wcscmp(V_BSTR(v), kTextValue) == 0 &&
           SysStringLen(V_BSTR(v)) == wcslen(kTextValue);
}
inline bool Same(const wchar_t *a, const wchar_t *b) { return a && b && wcscmp(a, b) == 0; }
inline bool SameTime(const FILETIME &a, const FILETIME &b)
{
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}
inline bool IsBlob(DWORD size, const BYTE *blob)
{
    return size == sizeof(kBlob) && blob && std::memcmp(blob, kBlob, sizeof(kBlob)) == 0;
}
inline wchar_t *TaskString(const wchar_t *text)
{
    size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    wchar_t *copy = static_cast<wchar_t *>(CoTaskMemAlloc(bytes));
    if (copy)
        std::memcpy(copy, text, bytes);
    return copy;
}
template <class T> T *TaskArray(DWORD count)
{
    T *array = static_cast<T *>(CoTaskMemAlloc(sizeof(T) * count));
    if (array)
        std::memset(array, 0, sizeof(T) * count);
    return array;
}
// An EU range as OPC gives it: a SAFEARRAY of two doubles.
inline void MakeRange(VARIANT *v)
{
    VariantInit(v);
    SAFEARRAY *array = SafeArrayCreateVector(VT_R8, 0, 2);
    double *data = nullptr;
    SafeArrayAccessData(array, reinterpret_cast<void **>(&data));
    data[0] = -10.5;
    data[1] = 65535.0;
    SafeArrayUnaccessData(array);
    V_VT(v) = VT_ARRAY | VT_R8;
    V_ARRAY(v) = array;
}
inline bool IsRange(const VARIANT *v)
{
    if (V_VT(v) != (VT_ARRAY | VT_R8) || !V_ARRAY(v) || SafeArrayGetDim(V_ARRAY(v)) != 1)
        return false;
    LONG lo = 0, hi = 0;
    SafeArrayGetLBound(V_ARRAY(v), 1, &lo);
    SafeArrayGetUBound(V_ARRAY(v), 1, &hi);
    if (lo != 0 || hi != 1)
        return false;
    double *data = nullptr;
    SafeArrayAccessData(V_ARRAY(v), reinterpret_cast<void **>(&data));
    bool same = data[0] == -10.5 && data[1] == 65535.0;
    SafeArrayUnaccessData(V_ARRAY(v));
    return same;
}

}  // namespace stub
