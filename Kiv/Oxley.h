// Oxley.dll, the HMI driver interface: the kiv_* exports through which the
// HMI (and the OPC library) parses item addresses, signal-conditioning names
// and options, reads item values, sends writes, switches points for report by
// exception and reads the driver's statistics. Every export writes its status
// code (KivStatusCode) through its first argument. Callers bind the exports
// by name; the PFN_ types are the bound pointers.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include "KivRecords.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(OXLEY_EXPORTS)
#define OXLEY_API __declspec(dllexport)
#else
#define OXLEY_API
#endif

typedef uint16_t KivStatus;

// Binding and server link.
OXLEY_API void __cdecl kiv_CleanUp(KivStatus *status);
OXLEY_API void __cdecl kiv_enable_options(KivStatus *status);
OXLEY_API void __cdecl kiv_reset(KivStatus *status);
OXLEY_API void __cdecl kiv_tick_enable(KivStatus *status);
OXLEY_API void __cdecl kiv_tick_disable(KivStatus *status);
OXLEY_API void __cdecl kiv_tick(void);
OXLEY_API void __cdecl kiv_getsub(void);
OXLEY_API void __cdecl kiv_reload_dit(void);

// Addresses, signal conditioning, options. size is the buffer's size in bytes.
OXLEY_API void __cdecl kiv_paddr(KivStatus *status, KivBlock *block, KivKind *kind, const char *address);
OXLEY_API void __cdecl kiv_daddr(KivStatus *status, KivBlock *block, void *unused, char *text, short size);
OXLEY_API void __cdecl kiv_psig(KivStatus *status, KivBlock *block, void *unused, const char *name);
OXLEY_API void __cdecl kiv_dsig(KivStatus *status, KivBlock *block, void *unused, char *text, short size);
OXLEY_API void __cdecl kiv_popt(KivStatus *status, KivBlock *block, void *unused, const char *name);
OXLEY_API void __cdecl kiv_dopt(KivStatus *status, KivBlock *block, void *unused, char *text, short size);
// size: the buffer's capacity on entry, the bytes needed on return.
OXLEY_API void __cdecl kiv_EnumSigCond(KivStatus *status, int *count, int *size, char *buffer);
OXLEY_API void __cdecl kiv_SigCondSize(KivStatus *status, int *count, int *size);
OXLEY_API void __cdecl kiv_EnumOptions(KivStatus *status, int *count, int *size, char *buffer);
OXLEY_API void __cdecl kiv_OptionsSize(KivStatus *status, int *count, int *size);

// Reads, writes, exception points, statistics. The status of the reads is a
// pair: the code and a word set to 1 when the value is the last known one.
OXLEY_API void __cdecl kiv_readEx(KivStatus *status, KivBlock *block, KivKind *kind, FILETIME *time,
                                  unsigned short *quality, short count, VARIANT *value, short option);
OXLEY_API void __cdecl kiv_sendEx(KivStatus *status, KivBlock *block, KivKind *kind, unsigned short *quality,
                                  short count, VARIANT value, short option);
OXLEY_API void __cdecl kiv_read(KivStatus *status, KivBlock *block, KivKind *kind, KivValue *value);
OXLEY_API void __cdecl kiv_send(KivStatus *status, KivBlock *block, KivKind *kind, KivValue *value);
OXLEY_API void __cdecl kiv_on(KivStatus *status, KivBlock *block, KivKind *kind, KivException *point,
                              short hmiValue);
OXLEY_API void __cdecl kiv_off(KivStatus *status, KivBlock *block, KivKind *kind, KivException *point);
OXLEY_API void __cdecl kiv_fetch(void *unused1, void *unused2, KivException *points, short maximum,
                                 short *count);
OXLEY_API void __cdecl kiv_read_stats(KivStatus *status, void *unused1, short selector, void *unused2,
                                      KivStats *stats);
OXLEY_API void __cdecl kiv_reset_stats(KivStatus *status, void *unused, short selector);

typedef void(__cdecl *PFN_kiv_status)(KivStatus *);
typedef void(__cdecl *PFN_kiv_paddr)(KivStatus *, KivBlock *, KivKind *, const char *);
typedef void(__cdecl *PFN_kiv_display)(KivStatus *, KivBlock *, void *, char *, short);
typedef void(__cdecl *PFN_kiv_parse)(KivStatus *, KivBlock *, void *, const char *);
typedef void(__cdecl *PFN_kiv_enum)(KivStatus *, int *, int *, char *);
typedef void(__cdecl *PFN_kiv_size)(KivStatus *, int *, int *);
typedef void(__cdecl *PFN_kiv_readEx)(KivStatus *, KivBlock *, KivKind *, FILETIME *, unsigned short *, short,
                                      VARIANT *, short);
typedef void(__cdecl *PFN_kiv_sendEx)(KivStatus *, KivBlock *, KivKind *, unsigned short *, short, VARIANT,
                                      short);
typedef void(__cdecl *PFN_kiv_value)(KivStatus *, KivBlock *, KivKind *, KivValue *);
typedef void(__cdecl *PFN_kiv_on)(KivStatus *, KivBlock *, KivKind *, KivException *, short);
typedef void(__cdecl *PFN_kiv_off)(KivStatus *, KivBlock *, KivKind *, KivException *);
typedef void(__cdecl *PFN_kiv_fetch)(void *, void *, KivException *, short, short *);
typedef void(__cdecl *PFN_kiv_read_stats)(KivStatus *, void *, short, void *, KivStats *);
typedef void(__cdecl *PFN_kiv_reset_stats)(KivStatus *, void *, short);

#ifdef __cplusplus
}
#endif
