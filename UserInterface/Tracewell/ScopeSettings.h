// The data monitor's per-user settings: their names, defaults and ranges,
// read once when the library loads. Values out of range fall back to their
// defaults without a word.
#pragma once
#include <cstdint>
#include "Profile.h"

struct ScopeSettings {
    enum : int {
        DefaultRows = 40, MinRows = 10, MaxRows = 1000,
        DefaultColumns = 40, MinColumns = 40, MaxColumns = 120,
    };
    // COLORREF values, 0x00BBGGRR.
    uint32_t sendForeground = 0x0000FFFF;
    uint32_t sendBackground = 0x00FF0000;
    uint32_t recvForeground = 0x0000FF00;
    uint32_t recvBackground = 0x00FF0000;
    unsigned rows = DefaultRows;        // lines shown; the ring holds rows + 1
    unsigned columns = DefaultColumns;  // bytes per line
    bool hexFont = false;

    // The four colours by command order: send fore, send back, receive fore, receive back.
    uint32_t &Colour(int which);
    uint32_t Colour(int which) const { return const_cast<ScopeSettings *>(this)->Colour(which); }
    static const char *ColourEntry(int which);

    void Load(IProfileStore &profile);
    void SaveColour(IProfileStore &profile, int which) const;
    void SaveSize(IProfileStore &profile) const;
    void SaveFont(IProfileStore &profile) const;

    static bool ValidRows(long rows) { return rows >= MinRows && rows <= MaxRows; }
    static bool ValidColumns(long columns) { return columns >= MinColumns && columns <= MaxColumns; }
};

extern const char ScopeProfileKey[];      // "Veltrane"
extern const char ScopeApplication[];     // "Tracewell"
extern const char ScopeProfileSection[];  // "Configuration"
