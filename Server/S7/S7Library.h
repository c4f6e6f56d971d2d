// Thin wrappers over s732.dll, one per library call. The library is loaded
// on first use and bound by ordinal. Each wrapper clears the error record,
// calls the library, and on failure fills the record and answers
// QOR_E_S7_LIBRARY; null required arguments give E_INVALIDARG.
#pragma once
#include "S7Error.h"
#include <stdint.h>
#include <string>
#include <vector>

// Loads the library from path (null: "s732.dll" by the usual search) unless
// it is loaded already. False when it or one of its ordinals is missing.
bool LoadS7Library(const char *path = nullptr);

HRESULT QOROpenCpVfd(const char *cpName, const char *vfdName, DWORD *cpDescriptor, S7ErrorRecord *error);
HRESULT QORShutCpVfd(DWORD cpDescriptor, S7ErrorRecord *error);
// count (out) is the number of connections of the CP/VFD.
HRESULT QORGetConnByIndex(DWORD cpDescriptor, WORD index, WORD *count, DWORD *connRef,
                          char *connName /* 35 */, S7ErrorRecord *error);
HRESULT QORGetRefForConn(DWORD cpDescriptor, const char *connName, DWORD *connRef, S7ErrorRecord *error);
HRESULT QORInitiateConnReq(DWORD cpDescriptor, DWORD connRef, S7ErrorRecord *error);
HRESULT QORGetInitiateConnCnf(DWORD cpDescriptor, S7ErrorRecord *error);
HRESULT QORAbortConnection(DWORD cpDescriptor, DWORD connRef, S7ErrorRecord *error);
HRESULT QORGetAbortInd(DWORD cpDescriptor, S7ErrorRecord *error);
// eventCode (out) is the library's code of the event now current (0: none).
HRESULT QORReceiveFromSapi(DWORD cpDescriptor, DWORD *connRef, WORD *orderId, int *eventCode,
                           S7ErrorRecord *error);
HRESULT QORDiscardEvent(DWORD cpDescriptor, S7ErrorRecord *error);
// The variable text holds at most 32 characters.
HRESULT QORReadRequest(DWORD cpDescriptor, DWORD connRef, WORD orderId, const char *varText,
                       S7ErrorRecord *error);
// buffer holds QOR_READ_CNF_BUFFER bytes.
constexpr WORD QOR_READ_CNF_BUFFER = 942;
HRESULT QORGetReadCnfWithData(DWORD cpDescriptor, void *buffer, WORD *length, S7ErrorRecord *error);
// At most 256 bytes of data.
HRESULT QORWriteRequest(DWORD cpDescriptor, DWORD connRef, WORD orderId, const char *varText,
                        const void *data, DWORD length, S7ErrorRecord *error);
HRESULT QORGetWriteCnf(DWORD cpDescriptor, S7ErrorRecord *error);
HRESULT QORGetMultipleWriteCnf(DWORD cpDescriptor, WORD *results, WORD capacity, WORD *count,
                               S7ErrorRecord *error);
HRESULT QORGetCpByIndex(WORD index, WORD *count, char *cpName /* 131 */, S7ErrorRecord *error);
HRESULT QORGetVfdByIndex(const char *cpName, WORD index, WORD *count, char *vfdName /* 35 */,
                         S7ErrorRecord *error);
HRESULT QORSetWindowMessage(DWORD cpDescriptor, HWND window, UINT message, S7ErrorRecord *error);
HRESULT QORMiniDbSet(WORD item, const char *value, S7ErrorRecord *error);

// The abort timeout: "SapiTimeout" in ms (at least 1000) handed to the
// library as mini-database item 62, in units of 51 ms plus one.
std::string FormatS7AbortTimeout(DWORD sapiTimeoutMs);
HRESULT SetS7AbortTimeout(DWORD sapiTimeoutMs, S7ErrorRecord *error);

// Enumeration rows and lists for the automation interface.
#pragma pack(push, 2)
struct S7CpRow {
    WORD index;
    char name[134];
};
struct S7NameRow {
    WORD index;
    char name[38];
};
#pragma pack(pop)
static_assert(sizeof(S7CpRow) == 136, "CP row");
static_assert(sizeof(S7NameRow) == 40, "VFD and connection row");

struct S7CpList {
    std::vector<S7CpRow> rows;
};
struct S7VfdList {
    char cpName[131];
    std::vector<S7NameRow> rows;
};
struct S7ConnList {
    char cpName[131];
    char vfdName[35];
    std::vector<S7NameRow> rows;
};

// E_FAIL with the library's code in *libraryCode on a library failure,
// E_OUTOFMEMORY when a list cannot be made, E_INVALIDARG for null arguments.
HRESULT QOREnumerateCps(S7CpList **list, HRESULT *libraryCode);
HRESULT QOREnumerateVfds(const char *cpName, S7VfdList **list, HRESULT *libraryCode);
HRESULT QOREnumerateConnections(const char *cpName, const char *vfdName, S7ConnList **list,
                                HRESULT *libraryCode);
HRESULT QORFreeCpList(S7CpList *list);
HRESULT QORFreeVfdList(S7VfdList *list);
HRESULT QORFreeConnList(S7ConnList *list);
