// The options dialog without its window: the two sizes, the checks made when
// a field loses the focus, and what OK does. The dialog procedure only moves
// values between its fields and this object.
#pragma once
#include <windows.h>
#include <string>
#include "ScopeLibrary.h"

extern const char ScopeResizeQuestion[];

class CScopeOptions {
public:
    explicit CScopeOptions(CScopeLibrary &library) : m_library(library) {}

    // Pauses the ring and takes the current sizes; End() restores the pause state.
    void Begin();
    void End();

    long Width() const { return m_width; }
    long Lines() const { return m_lines; }
    // A field left with this value: out of range shows the message and keeps
    // the old value (false).
    bool LeaveWidth(long value, HWND owner);
    bool LeaveLines(long value, HWND owner);

    enum Result {
        Stay,       // the user said No: the dialog stays open
        Unchanged,  // nothing to do: the dialog ends
        Applied,    // reallocated and written: the dialog ends
        Failed,     // the allocation failed: the dialog ends and the window closes
    };
    Result Ok(HWND owner);

    static std::string RangeText(const char *format, int low, int high);

private:
    CScopeLibrary &m_library;
    bool m_wasPaused = false;
    long m_width = 0;
    long m_lines = 0;
};
