// A signal-conditioning library that lacks "OutputSigCond32", for the test
// that Oxley refuses it (516) and loads again on the next call.
#include "Parvel.h"

extern "C" {
int __cdecl GetFirstSigCond(char *, unsigned *, char *, unsigned *) { return PARVEL_NO_MORE; }
int __cdecl GetNextSigCond(char *, unsigned *, char *, unsigned *) { return PARVEL_NO_MORE; }
int __cdecl ParseSigCond(const char *, unsigned *index)
{
    *index = 0;
    return PARVEL_OK;
}
int __cdecl DisplaySigCond(unsigned, char *, unsigned *, char *, unsigned *) { return PARVEL_OK; }
void __cdecl InputSigCond32(unsigned, float, float, int raw, float *value, int, unsigned short *)
{
    *value = float(raw);
}
}
