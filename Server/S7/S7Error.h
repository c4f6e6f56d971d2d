// Results and the error record of the S7 connection layer.
#pragma once
#include <windows.h>
#include <stdint.h>

// The record filled after every failing library call; requests carry the
// one of their last failure, and the data block shows it as its "Sapi*"
// properties.
struct S7ErrorRecord {
    DWORD returnCode;       // the failing call's result
    WORD errorNumber;       // first error number
    WORD errorClass;        // second error number: the error class
    char errorText[128];    // first error text
    char detailText[128];   // second error text
};
static_assert(sizeof(S7ErrorRecord) == 264, "S7ErrorRecord layout");

void ClearS7ErrorRecord(S7ErrorRecord *record);

// True for a record that does not end the connection: no return code, both
// numbers 0, or one of the classes the controller reports for a single
// request (7, 8, 30, 31, 50, 51, 53, 80-88, 150, 151).
bool IsNonFatalS7Error(const S7ErrorRecord &record);

// Failures of the layer (HRESULT-shaped, 32-bit).
constexpr HRESULT QOR_E_S7_LIBRARY = static_cast<HRESULT>(0xC10101FD);     // the library call failed; see the record
constexpr HRESULT QOR_E_S7_FREE = static_cast<HRESULT>(0xC10101FE);        // freeing a list failed
constexpr HRESULT QOR_E_VFD_OPEN = static_cast<HRESULT>(0xC1010130);       // the VFD is already open
constexpr HRESULT QOR_E_VFD_NOT_OPEN = static_cast<HRESULT>(0xC1010131);
constexpr HRESULT QOR_E_HAS_REFERENCE = static_cast<HRESULT>(0xC1010132);  // treated as success
constexpr HRESULT QOR_E_NO_REFERENCE = static_cast<HRESULT>(0xC1010133);
constexpr HRESULT QOR_E_NO_VFD = static_cast<HRESULT>(0xC1010134);
constexpr HRESULT QOR_E_CONNECTED = static_cast<HRESULT>(0xC1010136);      // treated as success
constexpr HRESULT QOR_E_NOT_CONNECTED = static_cast<HRESULT>(0xC1010137);
constexpr HRESULT QOR_E_SIGNAL = static_cast<HRESULT>(0xC101011C);         // the completion event could not be set

// What an event of the library meant, as the VFD object maps it.
constexpr HRESULT QOR_S7_CONNECTED = 0x010101A0;
constexpr HRESULT QOR_S7_VFD_STATE = 0x010101A1;
constexpr HRESULT QOR_S7_ABORTED = 0x010101A2;
constexpr HRESULT QOR_S7_READ_DONE = 0x010101A3;
constexpr HRESULT QOR_S7_WRITE_DONE = 0x010101A4;
constexpr HRESULT QOR_S7_MULT_WRITE_DONE = 0x010101A5;
constexpr HRESULT QOR_S7_CNF_ERROR = 0x010101A6;
constexpr HRESULT QOR_S7_RECEIVE_FAILED = 0x010101A7;
constexpr HRESULT QOR_S7_DISCARDED = 0x010101A8;
constexpr HRESULT QOR_S7_OTHER_DISCARDED = 0x010101A9;
constexpr HRESULT QOR_S7_NO_EVENT = 0x010101AA;
constexpr HRESULT QOR_S7_STALE_READ = static_cast<HRESULT>(0xC10101B0);   // confirmation for another order id
constexpr HRESULT QOR_S7_STALE_OTHER = static_cast<HRESULT>(0xC10101B1);

// The debug output of the layer. Lines go to OutputDebugString; a test may
// watch them through the hook (null to stop).
typedef void (*S7DebugHook)(const char *line);
void SetS7DebugHook(S7DebugHook hook);
void S7DebugOutput(const char *format, ...) __attribute__((format(printf, 1, 2)));
