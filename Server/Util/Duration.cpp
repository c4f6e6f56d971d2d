#include "Duration.h"
#include <windows.h>
#include <cstdio>
#include <mutex>

namespace {

std::mutex g_overrideLock;
bool g_overridden = false;
DurationSeparators g_override;

std::string LocaleText(LCTYPE type, const char *fallback)
{
    char buffer[16];
    int n = GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, type, buffer, sizeof buffer);
    if (n <= 1)
        return fallback;
    return std::string(buffer, size_t(n - 1));
}

bool IsDigits(const std::string &text)
{
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// A non-empty run of digits, refused rather than wrapped when above limit.
bool ParseField(const std::string &text, uint64_t limit, uint64_t *value)
{
    if (text.empty() || !IsDigits(text))
        return false;
    uint64_t result = 0;
    for (char c : text) {
        result = result * 10 + uint64_t(c - '0');
        if (result > limit)
            return false;
    }
    *value = result;
    return true;
}

} // namespace

DurationSeparators CurrentDurationSeparators()
{
    {
        std::lock_guard<std::mutex> lock(g_overrideLock);
        if (g_overridden)
            return g_override;
    }
    DurationSeparators separators;
    separators.time = LocaleText(LOCALE_STIME, ":");
    separators.decimal = LocaleText(LOCALE_SDECIMAL, ".");
    return separators;
}

void OverrideDurationSeparators(const DurationSeparators *separators)
{
    std::lock_guard<std::mutex> lock(g_overrideLock);
    g_overridden = separators != nullptr;
    if (separators)
        g_override = *separators;
}

bool DurationTextToMs(const char *input, uint32_t *ms, const DurationSeparators &separators)
{
    if (!input || !ms || !*input || separators.time.empty() || separators.decimal.empty())
        return false;
    std::string text(input);

    uint64_t tenths = 0;
    bool hasTenths = false;
    size_t point = text.find(separators.decimal);
    if (point != std::string::npos) {
        std::string fraction = text.substr(point + separators.decimal.size());
        if (fraction.size() > 1 || !IsDigits(fraction))
            return false;
        hasTenths = !fraction.empty();
        if (hasTenths)
            tenths = uint64_t(fraction[0] - '0');
        text.erase(point);
    }
    if (text.empty()) {
        if (!hasTenths)
            return false;  // a lone separator says nothing
        *ms = uint32_t(tenths * 100);
        return true;
    }

    std::string fields[4];
    size_t count = 0, from = 0;
    for (;;) {
        if (count == 4)
            return false;
        size_t next = text.find(separators.time, from);
        fields[count++] = text.substr(from, next == std::string::npos ? std::string::npos : next - from);
        if (next == std::string::npos)
            break;
        from = next + separators.time.size();
    }

    // Fields right to left: seconds, minutes, hours, days. Days run as far as
    // 32 bits of ms hold, since the formatter writes them that far.
    static const uint64_t kLimits[4] = {59, 59, 23, uint64_t(UINT32_MAX) / 86400000};
    static const uint64_t kUnitMs[4] = {1000, 60000, 3600000, 86400000};
    uint64_t total = tenths * 100;
    for (size_t i = 0; i < count; ++i) {
        uint64_t value;
        // A lone seconds number may run past 59, as far as 32 bits of ms hold.
        uint64_t limit = count == 1 ? uint64_t(UINT32_MAX) / 1000 : kLimits[i];
        if (!ParseField(fields[count - 1 - i], limit, &value))
            return false;
        total += value * kUnitMs[i];
    }
    if (total > UINT32_MAX)
        return false;
    *ms = uint32_t(total);
    return true;
}

bool DurationTextToMs(const char *text, uint32_t *ms)
{
    return DurationTextToMs(text, ms, CurrentDurationSeparators());
}

std::string MsToDurationText(uint32_t ms, const DurationSeparators &separators)
{
    unsigned s = ms / 1000, r = ms % 1000;
    const char *t = separators.time.c_str();
    char buffer[64];
    if (s == 0)
        std::snprintf(buffer, sizeof buffer, "%s", r ? "0" : "00");
    else if (s < 60)
        std::snprintf(buffer, sizeof buffer, "%02u", s);
    else if (s < 3600)
        std::snprintf(buffer, sizeof buffer, "%02u%s%02u", s / 60, t, s % 60);
    else if (s < 86400)
        std::snprintf(buffer, sizeof buffer, "%02u%s%02u%s%02u", s / 3600, t, s / 60 % 60, t, s % 60);
    else
        std::snprintf(buffer, sizeof buffer, "%1u%s%02u%s%02u%s%02u", s / 86400, t, s / 3600 % 24, t,
                      s / 60 % 60, t, s % 60);
    std::string text(buffer);
    if (r)
        text += separators.decimal + char('0' + r / 100);
    return text;
}

std::string MsToDurationText(uint32_t ms)
{
    return MsToDurationText(ms, CurrentDurationSeparators());
}
