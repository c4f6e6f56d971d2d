#include "ScopeSettings.h"

const char ScopeProfileKey[] = "Veltrane";
const char ScopeApplication[] = "Tracewell";
const char ScopeProfileSection[] = "Configuration";

namespace {
const char *const ColourEntries[4] = {"SendForegroundColor", "SendBackgroundColor", "RecvForegroundColor",
                                      "RecvBackgroundColor"};
}

uint32_t &ScopeSettings::Colour(int which)
{
    switch (which) {
    case 0: return sendForeground;
    case 1: return sendBackground;
    case 2: return recvForeground;
    default: return recvBackground;
    }
}

const char *ScopeSettings::ColourEntry(int which)
{
    return ColourEntries[which & 3];
}

void ScopeSettings::Load(IProfileStore &profile)
{
    const ScopeSettings defaults;
    for (int i = 0; i < 4; ++i)
        Colour(i) = profile.ReadInt(ScopeProfileSection, ColourEntry(i), defaults.Colour(i));
    // The sizes are 16-bit values.
    const long storedRows = static_cast<uint16_t>(profile.ReadInt(ScopeProfileSection, "Rows", DefaultRows));
    rows = ValidRows(storedRows) ? unsigned(storedRows) : unsigned(DefaultRows);
    const long storedColumns =
        static_cast<uint16_t>(profile.ReadInt(ScopeProfileSection, "Columns", DefaultColumns));
    columns = ValidColumns(storedColumns) ? unsigned(storedColumns) : unsigned(DefaultColumns);
    hexFont = profile.ReadInt(ScopeProfileSection, "Font", 0) != 0;
}

void ScopeSettings::SaveColour(IProfileStore &profile, int which) const
{
    profile.WriteInt(ScopeProfileSection, ColourEntry(which), Colour(which));
}

void ScopeSettings::SaveSize(IProfileStore &profile) const
{
    profile.WriteInt(ScopeProfileSection, "Rows", rows);
    profile.WriteInt(ScopeProfileSection, "Columns", columns);
}

void ScopeSettings::SaveFont(IProfileStore &profile) const
{
    profile.WriteInt(ScopeProfileSection, "Font", hexFont ? 1 : 0);
}
