// SigCond.h - the conversion table and its rules, free of Windows headers so
// that the exports in Parvel.cpp stay a thin shim over it.
#pragma once

#include <cstdint>

namespace sigcond {

// Copies the names of type `index`: 0, 8 (a buffer cannot hold its text and
// terminator; nothing copied, lengths unchanged) or 31 (index above 13).
int CopyNames(unsigned index, char *shortName, unsigned *shortLength, char *longName, unsigned *longLength);

// Type index of a short name, without regard to case: 0, or 123 with index 14.
int Parse(const char *name, unsigned *index);

// Raw controller value to engineering value, marking the quality byte.
void Input(unsigned type, float low, float span, int32_t raw, float *value, int32_t flags, uint16_t *quality);

// Engineering value to raw controller value, marking the quality byte.
void Output(unsigned type, float low, float span, float value, int32_t *raw, int32_t flags, uint16_t *quality);

} // namespace sigcond
