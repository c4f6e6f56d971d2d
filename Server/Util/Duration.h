// Durations as the locale's time text: up to four fields (days, hours,
// minutes, seconds; seconds last) joined by the time separator, with at most
// one digit of tenths after the decimal separator. Poll times, phases,
// access times, timeouts and delays are shown and entered in this form.
#pragma once
#include <cstdint>
#include <string>

struct DurationSeparators {
    std::string time = ":";
    std::string decimal = ".";
};

// The separators in use: the system locale's time and decimal separators,
// unless a test pinned others with OverrideDurationSeparators.
DurationSeparators CurrentDurationSeparators();
// Pins the separators for the whole process (null returns to the locale's).
void OverrideDurationSeparators(const DurationSeparators *separators);

// Text to milliseconds; false (and *ms unchanged) when the text does not
// parse or the value does not fit in 32 bits.
bool DurationTextToMs(const char *text, uint32_t *ms, const DurationSeparators &separators);
bool DurationTextToMs(const char *text, uint32_t *ms);

// Milliseconds to text: 1000 -> "01", 1500 -> "01.5", 500 -> "0.5",
// 61000 -> "01:01", 90061000 -> "1:01:01:01".
std::string MsToDurationText(uint32_t ms, const DurationSeparators &separators);
std::string MsToDurationText(uint32_t ms);
