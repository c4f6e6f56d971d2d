#include "SigCond.h"

#include <cmath>
#include <cstring>

namespace sigcond {
namespace {

struct TypeName {
    const char *shortName;
    const char *longName;
};

const TypeName kNames[] = {
    {"None", "No Signal Conditioning"},
    {"12BN", "12 Bit Binary with No Alarming"},
    {"12AL", "12 Bit Binary with Alarming"},
    {"15BN", "15 Bit Binary with No Alarming"},
    {"15AL", "15 Bit Binary with Alarming"},
    {"Lin", "Linear Signal Conditioning"},
    {"3BCD", "3 Digit Binary Coded Decimal"},
    {"4BCD", "4 Digit Binary Coded Decimal"},
    {"13BN", "13 Bit Binary with No Alarming"},
    {"13AL", "13 Bit Binary with Alarming"},
    {"8BN", "8 Bit Binary with No Alarming"},
    {"8AL", "8 Bit Binary with Alarming"},
    {"TBCD", "Timer in BCD"},
    {"S5CO", "S5 Counter"},
};
const unsigned kTypeCount = sizeof(kNames) / sizeof(kNames[0]);

enum : unsigned {
    kNone = 0, kLin = 5, k3Bcd = 6, k4Bcd = 7, kTimerBcd = 12, kS5Counter = 13,
};

// The binary types: raw full scale, the mask of the non-alarming ones, and the
// raw limit above which the alarming ones report out of range.
struct Binary {
    unsigned type;
    int32_t fullScale;
    uint32_t mask;      // 0: alarming, the raw value is used unmasked
    int32_t alarmAbove;
    bool unsignedLimit; // 12AL compares the raw value as unsigned
};
const Binary kBinary[] = {
    {1, 4095, 0xFFF, 0, false},  {2, 4095, 0, 4095, true},
    {3, 32767, 0x7FFF, 0, false}, {4, 32767, 0, 32767, false},
    {8, 8191, 0x1FFF, 0, false},  {9, 8191, 0, 8191, false},
    {10, 255, 0xFF, 0, false},    {11, 255, 0, 255, false},
};

const Binary *FindBinary(unsigned type)
{
    for (const Binary &b : kBinary)
        if (b.type == type)
            return &b;
    return nullptr;
}

const uint16_t kGood = 0xC0;

void SetQualityByte(uint16_t *quality, unsigned byte)
{
    *quality = static_cast<uint16_t>((*quality & 0xFF00) | (byte & 0xFF));
}
void MarkConfigError(uint16_t *quality) { SetQualityByte(quality, (*quality & 0x07) | 0x04); }
void MarkOutOfRange(uint16_t *quality) { SetQualityByte(quality, (*quality & 0x56) | 0x56); }
void MarkBadDigit(uint16_t *quality) { SetQualityByte(quality, (*quality & 0x13) | 0x10); }

// Truncates toward zero; NaN gives 0 and values beyond the int range give its
// ends, where a plain cast would be undefined.
int32_t TruncSaturated(double x)
{
    if (std::isnan(x))
        return 0;
    if (x >= 2147483647.0)
        return INT32_MAX;
    if (x <= -2147483648.0)
        return INT32_MIN;
    return static_cast<int32_t>(x);
}

// "Round" of the raw scales: add 0.5 and truncate toward zero.
int32_t RoundUp(double x) { return TruncSaturated(x + 0.5); }

double Scaled(float value, float low, float span, int32_t fullScale)
{
    return (static_cast<double>(value) - low) / span * fullScale;
}

bool DecodeBcd(uint32_t bits, int digits, int32_t *n)
{
    int32_t result = 0;
    for (int i = digits - 1; i >= 0; --i) {
        uint32_t digit = (bits >> (4 * i)) & 0xF;
        if (digit > 9)
            return false;
        result = result * 10 + static_cast<int32_t>(digit);
    }
    *n = result;
    return true;
}

// n must lie in 0 .. 10^digits - 1.
int32_t EncodeBcd(int32_t n, int digits)
{
    int32_t bits = 0;
    for (int i = 0; i < digits; ++i, n /= 10)
        bits |= (n % 10) << (4 * i);
    return bits;
}

int32_t ClampBcd(int32_t n, int32_t max) { return n < 0 ? 0 : (n > max ? max : n); }

int32_t TimerToRaw(float value)
{
    double seconds = value;
    if (seconds > 9990.0)
        seconds = 9990.0;
    else if (seconds != 0.0 && seconds < 0.01)
        seconds = 0.01;
    int32_t n = RoundUp(seconds * 100.0); // NaN gives 0
    int32_t base = 0;
    while (n >= 1000 && base < 3) {
        n /= 10;
        ++base;
    }
    return EncodeBcd(n, 3) | (base << 12);
}

} // namespace

int CopyNames(unsigned index, char *shortName, unsigned *shortLength, char *longName, unsigned *longLength)
{
    if (index >= kTypeCount)
        return 31;
    if (!shortName || !shortLength || !longName || !longLength)
        return 8;
    const TypeName &entry = kNames[index];
    size_t shortLen = std::strlen(entry.shortName), longLen = std::strlen(entry.longName);
    if (*shortLength <= shortLen || *longLength <= longLen)
        return 8;
    std::memcpy(shortName, entry.shortName, shortLen + 1);
    std::memcpy(longName, entry.longName, longLen + 1);
    *shortLength = static_cast<unsigned>(shortLen);
    *longLength = static_cast<unsigned>(longLen);
    return 0;
}

int Parse(const char *name, unsigned *index)
{
    if (!index)
        return 123;
    if (!name) {
        *index = kTypeCount;
        return 123;
    }
    auto equalNoCase = [](const char *a, const char *b) {
        for (; *a && *b; ++a, ++b) {
            char ca = (*a >= 'a' && *a <= 'z') ? char(*a - 'a' + 'A') : *a;
            char cb = (*b >= 'a' && *b <= 'z') ? char(*b - 'a' + 'A') : *b;
            if (ca != cb)
                return false;
        }
        return *a == *b;
    };
    if (!*name) {
        *index = kNone;
        return 0;
    }
    for (unsigned i = 0; i < kTypeCount; ++i)
        if (equalNoCase(name, kNames[i].shortName)) {
            *index = i;
            return 0;
        }
    if (equalNoCase(name, "S5TI")) {
        *index = kTimerBcd;
        return 0;
    }
    *index = kTypeCount;
    return 123;
}

void Input(unsigned type, float low, float span, int32_t raw, float *value, int32_t flags, uint16_t *quality)
{
    if (!value || !quality)
        return;
    *quality |= kGood;
    const uint32_t bits = static_cast<uint32_t>(raw);

    if (const Binary *b = FindBinary(type)) {
        if (b->mask) {
            *value = static_cast<float>(bits & b->mask) / b->fullScale * span + low;
            return;
        }
        bool above = b->unsignedLimit ? bits > static_cast<uint32_t>(b->alarmAbove) : raw > b->alarmAbove;
        if (above)
            MarkOutOfRange(quality);
        *value = static_cast<float>(raw) / b->fullScale * span + low;
        return;
    }

    int32_t n;
    switch (type) {
    case kNone:
        *value = static_cast<float>(raw);
        return;
    case kLin: {
        // In double, exactly: raw + 32768 must not overflow the int.
        double r = static_cast<double>(raw) + ((static_cast<uint32_t>(flags) & 0x80000000u) ? 32768.0 : 0.0);
        *value = low + span * (static_cast<float>(r) / 65535.0f);
        return;
    }
    case k3Bcd:
    case k4Bcd: {
        bool four = type == k4Bcd;
        if (!DecodeBcd(bits, four ? 4 : 3, &n)) {
            MarkBadDigit(quality);
            return;
        }
        *value = static_cast<float>(n) / (four ? 9999.0f : 999.0f) * span + low;
        return;
    }
    case kTimerBcd: {
        if (!DecodeBcd(bits, 3, &n)) {
            MarkBadDigit(quality);
            return;
        }
        // Divide rather than multiply by 0.01 or 0.1, so that the result is
        // the float nearest the exact time (0x0999 gives the float of 9.99).
        switch ((bits >> 12) & 3) {
        case 0: *value = static_cast<float>(n) / 100.0f; break;
        case 1: *value = static_cast<float>(n) / 10.0f; break;
        case 2: *value = static_cast<float>(n); break;
        default: *value = static_cast<float>(n) * 10.0f; break;
        }
        return;
    }
    case kS5Counter:
        *value = static_cast<float>(((bits & 7) << 13) | (bits >> 3));
        return;
    default:
        MarkConfigError(quality);
        return;
    }
}

void Output(unsigned type, float low, float span, float value, int32_t *raw, int32_t flags, uint16_t *quality)
{
    if (!raw || !quality)
        return;
    *quality |= kGood;
    if (type >= kTypeCount) {
        MarkConfigError(quality);
        return;
    }
    bool scaled = FindBinary(type) || type == kLin || type == k3Bcd || type == k4Bcd;
    if (scaled && span == 0.0f) {
        // Nothing sensible can be written for a zero span.
        MarkConfigError(quality);
        return;
    }

    if (const Binary *b = FindBinary(type)) {
        double s = Scaled(value, low, span, b->fullScale);
        if (type == 4)
            s = static_cast<float>(s); // 15AL rounds the scaled value to single precision first
        *raw = RoundUp(s);
        return;
    }

    switch (type) {
    case kNone: {
        double v = value;
        *raw = v < 0.0 ? TruncSaturated(v - 0.5) : TruncSaturated(v + 0.5);
        return;
    }
    case kLin: {
        int32_t r = RoundUp(Scaled(value, low, span, 65535));
        if (static_cast<uint32_t>(flags) & 0x80000000u)
            r = (r & 0xFFFF) - 32768;
        *raw = r;
        return;
    }
    case k3Bcd:
        *raw = EncodeBcd(ClampBcd(RoundUp(Scaled(value, low, span, 999)), 999), 3);
        return;
    case k4Bcd:
        *raw = EncodeBcd(ClampBcd(RoundUp(Scaled(value, low, span, 9999)), 9999), 4);
        return;
    case kTimerBcd:
        *raw = TimerToRaw(value);
        return;
    case kS5Counter:
        *raw = (TruncSaturated(value) & 0x1FFF) << 3;
        return;
    }
}

} // namespace sigcond
