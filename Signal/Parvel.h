// Parvel.h - signal conditioning between raw controller values and engineering
// units. Callers load Parvel.dll at run time and bind these exports by name
// with GetProcAddress; the PFN_ types below are what the bound pointers are.
#pragma once

// Results of the name functions.
enum {
    PARVEL_OK = 0,
    PARVEL_BUFFER_TOO_SMALL = 8,
    PARVEL_NO_MORE = 31,       // no more entries, or index out of range
    PARVEL_UNKNOWN_NAME = 123,
};

// Conversion types (index into the type table).
enum {
    SIGCOND_NONE = 0,
    SIGCOND_12BN = 1,
    SIGCOND_12AL = 2,
    SIGCOND_15BN = 3,
    SIGCOND_15AL = 4,
    SIGCOND_LIN = 5,
    SIGCOND_3BCD = 6,
    SIGCOND_4BCD = 7,
    SIGCOND_13BN = 8,
    SIGCOND_13AL = 9,
    SIGCOND_8BN = 10,
    SIGCOND_8AL = 11,
    SIGCOND_TBCD = 12,
    SIGCOND_S5CO = 13,
    SIGCOND_COUNT = 14,
};

// Flags: the raw value is a signed 16-bit number (linear type only).
#define SIGCOND_FLAG_SIGNED16 0x80000000u

#ifdef __cplusplus
extern "C" {
#endif

// Lengths are buffer sizes on entry and text lengths (no terminator) on return.
int __cdecl GetFirstSigCond(char *shortName, unsigned *shortLength, char *longName, unsigned *longLength);
int __cdecl GetNextSigCond(char *shortName, unsigned *shortLength, char *longName, unsigned *longLength);
int __cdecl ParseSigCond(const char *name, unsigned *index);
int __cdecl DisplaySigCond(unsigned index, char *shortName, unsigned *shortLength, char *longName,
                           unsigned *longLength);
// low is the low engineering limit, span is high - low. The quality word's low
// byte is an OPC quality byte; its high byte passes through.
void __cdecl InputSigCond32(unsigned type, float low, float span, int raw, float *value, int flags,
                            unsigned short *quality);
void __cdecl OutputSigCond32(unsigned type, float low, float span, float value, int *raw, int flags,
                             unsigned short *quality);

typedef int(__cdecl *PFN_GetFirstSigCond)(char *, unsigned *, char *, unsigned *);
typedef int(__cdecl *PFN_GetNextSigCond)(char *, unsigned *, char *, unsigned *);
typedef int(__cdecl *PFN_ParseSigCond)(const char *, unsigned *);
typedef int(__cdecl *PFN_DisplaySigCond)(unsigned, char *, unsigned *, char *, unsigned *);
typedef void(__cdecl *PFN_InputSigCond32)(unsigned, float, float, int, float *, int, unsigned short *);
typedef void(__cdecl *PFN_OutputSigCond32)(unsigned, float, float, float, int *, int, unsigned short *);

#ifdef __cplusplus
}
#endif
