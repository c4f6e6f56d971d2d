// The exports of Parvel.dll: argument plumbing over sigcond, plus the one
// piece of state, the position of the name enumeration.
#include "Parvel.h"

#include <atomic>

#include "SigCond.h"

namespace {
// One position for the whole process, as callers expect; atomic only so that
// concurrent enumerations disturb each other without undefined behaviour.
std::atomic<unsigned> g_position{0};
} // namespace

extern "C" {

int __cdecl GetFirstSigCond(char *shortName, unsigned *shortLength, char *longName, unsigned *longLength)
{
    g_position.store(0, std::memory_order_relaxed);
    return sigcond::CopyNames(0, shortName, shortLength, longName, longLength);
}

int __cdecl GetNextSigCond(char *shortName, unsigned *shortLength, char *longName, unsigned *longLength)
{
    // Stops one past the last entry, so every call after the end answers 31.
    unsigned next = g_position.load(std::memory_order_relaxed);
    if (next < SIGCOND_COUNT)
        ++next;
    g_position.store(next, std::memory_order_relaxed);
    return sigcond::CopyNames(next, shortName, shortLength, longName, longLength);
}

int __cdecl ParseSigCond(const char *name, unsigned *index)
{
    return sigcond::Parse(name, index);
}

int __cdecl DisplaySigCond(unsigned index, char *shortName, unsigned *shortLength, char *longName,
                           unsigned *longLength)
{
    return sigcond::CopyNames(index, shortName, shortLength, longName, longLength);
}

void __cdecl InputSigCond32(unsigned type, float low, float span, int raw, float *value, int flags,
                            unsigned short *quality)
{
    sigcond::Input(type, low, span, raw, value, flags, quality);
}

void __cdecl OutputSigCond32(unsigned type, float low, float span, float value, int *raw, int flags,
                             unsigned short *quality)
{
    sigcond::Output(type, low, span, value, raw, flags, quality);
}

} // extern "C"
