// Calling interface of s732.dll, the S7 communication library, as this
// system uses it. Every entry is exported by ordinal only; callers resolve
// them with GetProcAddress(module, MAKEINTRESOURCEA(ordinal)).
//
// Every call but receive returns S7LIB_OK or S7LIB_ERR; after S7LIB_ERR the calling
// thread's last error (ordinals 39 to 42) tells why. Receive returns the code
// of the event it made current, S7_NO_EVENT, or -1 / -2 on failure.
#pragma once
#include <windows.h>
#include <stdint.h>

#define S7LIB_OK 0
#define S7LIB_ERR (-1)

// Longest names, without the terminating zero.
#define S7_CP_NAME_MAX 130
#define S7_VFD_NAME_MAX 34
#define S7_CONN_NAME_MAX 34
#define S7_VAR_TEXT_MAX 32
#define S7_WRITE_DATA_MAX 256
#define S7_ERR_TEXT_SIZE 128

// Event codes returned by receive.
enum S7EventCode {
    S7_NO_EVENT = 0,
    S7_EVENT_NOTICE = 1,           // unsolicited notice, to be discarded
    S7_EVENT_INITIATE_CNF = 257,
    S7_EVENT_ABORT_IND = 259,
    S7_EVENT_VFD_STATE = 260,      // VFD state change, to be discarded
    S7_EVENT_READ_CNF = 769,
    S7_EVENT_WRITE_CNF = 770,
    S7_EVENT_MULT_WRITE_CNF = 772,
    S7_EVENT_BAD_DESCRIPTOR = -1,
    S7_EVENT_BAD_PARAMETER = -2,
};

// Ordinals.
enum S7Ordinal {
    S7_ORD_ABORT = 2,
    S7_ORD_DISCARD = 11,
    S7_ORD_GET_ABORT_IND = 12,
    S7_ORD_GET_CONNECTION = 14,
    S7_ORD_GET_CREF = 15,
    S7_ORD_GET_CP = 24,
    S7_ORD_GET_INITIATE_CNF = 25,
    S7_ORD_GET_MULT_WRITE_CNF = 28,
    S7_ORD_GET_READ_CNF = 29,
    S7_ORD_GET_VFD = 31,
    S7_ORD_GET_WRITE_CNF = 34,
    S7_ORD_OPEN = 35,
    S7_ORD_INITIATE = 36,
    S7_ORD_ERR_TEXT1 = 39,
    S7_ORD_ERR_NO1 = 40,
    S7_ORD_ERR_TEXT2 = 41,
    S7_ORD_ERR_CLASS = 42,
    S7_ORD_MINI_DB_SET = 44,
    S7_ORD_READ = 47,
    S7_ORD_RECEIVE = 48,
    S7_ORD_SET_WINDOW = 49,
    S7_ORD_SHUT = 50,
    S7_ORD_WRITE = 58,
};

// Variable access by the address text ("DB10,W100,5").
#define S7_ACCESS_SYMB_ADDRESS 2

struct S7ReadPara {
    uint16_t access;                 // S7_ACCESS_SYMB_ADDRESS
    char var_name[S7_VAR_TEXT_MAX + 2];
};

struct S7WritePara {
    uint16_t access;                 // S7_ACCESS_SYMB_ADDRESS
    char var_name[S7_VAR_TEXT_MAX + 2];
    uint16_t var_length;             // bytes in value
    uint8_t value[S7_WRITE_DATA_MAX];
};

static_assert(sizeof(S7ReadPara) == 36, "layout");
static_assert(sizeof(S7WritePara) == 294, "layout");

// Mini-database item: the abort timeout, in units of 51 ms, as decimal text.
#define S7_MINI_DB_ABORT_TIMEOUT 62

// Error classes the library reports (the second error number).
enum S7ErrorClass {
    S7_CLASS_PARAMETER = 1,       // a bad argument or name
    S7_CLASS_UNKNOWN_OBJECT = 2,  // no such CP, VFD or connection
    S7_CLASS_STATE = 3,           // the connection is not in a state for this call
    S7_CLASS_RESOURCE = 4,        // out of descriptors or memory
    S7_CLASS_NO_EVENT = 7,        // no current event of the expected kind
    S7_CLASS_INITIATE = 20,       // the partner refused the connection
    S7_CLASS_ABORTED = 21,        // the partner ended the connection
    S7_CLASS_OBJECT_ACCESS = 150, // address outside the controller's memory
    S7_CLASS_TYPE = 151,          // data length does not fit the address
};

typedef int(WINAPI *S7_OPEN)(const char *cp_name, const char *vfd_name, DWORD *cp_descr);
typedef int(WINAPI *S7_SHUT)(DWORD cp_descr);
typedef int(WINAPI *S7_GET_CONNECTION)(DWORD cp_descr, WORD index, WORD *number, DWORD *cref,
                                       char *conn_name /* S7_CONN_NAME_MAX + 1 */);
typedef int(WINAPI *S7_GET_CREF)(DWORD cp_descr, const char *conn_name, DWORD *cref);
typedef int(WINAPI *S7_INITIATE)(DWORD cp_descr, DWORD cref);
typedef int(WINAPI *S7_GET_INITIATE_CNF)(DWORD cp_descr);
typedef int(WINAPI *S7_ABORT)(DWORD cp_descr, DWORD cref);
typedef int(WINAPI *S7_GET_ABORT_IND)(DWORD cp_descr);
typedef int(WINAPI *S7_RECEIVE)(DWORD cp_descr, DWORD *cref, WORD *order_id);
typedef int(WINAPI *S7_DISCARD)(DWORD cp_descr);
typedef int(WINAPI *S7_READ)(DWORD cp_descr, DWORD cref, WORD order_id, const S7ReadPara *para);
typedef int(WINAPI *S7_GET_READ_CNF)(DWORD cp_descr, void *buffer, WORD capacity, WORD *length);
typedef int(WINAPI *S7_WRITE)(DWORD cp_descr, DWORD cref, WORD order_id, const S7WritePara *para);
typedef int(WINAPI *S7_GET_WRITE_CNF)(DWORD cp_descr);
typedef int(WINAPI *S7_GET_MULT_WRITE_CNF)(DWORD cp_descr, WORD *results, WORD capacity, WORD *count);
typedef int(WINAPI *S7_GET_CP)(WORD index, WORD *number, char *cp_name /* S7_CP_NAME_MAX + 1 */);
typedef int(WINAPI *S7_GET_VFD)(const char *cp_name, WORD index, WORD *number,
                                char *vfd_name /* S7_VFD_NAME_MAX + 1 */);
typedef int(WINAPI *S7_SET_WINDOW)(DWORD cp_descr, HWND window, UINT message);
typedef const char *(WINAPI *S7_ERR_TEXT)(void);
typedef WORD(WINAPI *S7_ERR_NUMBER)(void);
typedef int(WINAPI *S7_MINI_DB_SET)(WORD item, const char *value);
