#include "ScopeOptions.h"
#include <cstdio>

const char ScopeResizeQuestion[] =
    "A change in display size requires reallocating the display buffer. Are you sure you wish to lose all stored data?";

std::string CScopeOptions::RangeText(const char *format, int low, int high)
{
    char text[128];
    snprintf(text, sizeof(text), format, low, high);
    return text;
}

void CScopeOptions::Begin()
{
    m_wasPaused = m_library.Paused();
    m_library.SetPaused(true);
    m_width = long(m_library.Settings().columns);
    m_lines = long(m_library.Settings().rows);
}

void CScopeOptions::End()
{
    m_library.SetPaused(m_wasPaused);
}

bool CScopeOptions::LeaveWidth(long value, HWND owner)
{
    if (!ScopeSettings::ValidColumns(value)) {
        m_library.Ui().Message(owner,
                               RangeText("Invalid width.\nValid entries are %d to %d", ScopeSettings::MinColumns,
                                         ScopeSettings::MaxColumns)
                                   .c_str(),
                               MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    m_width = value;
    return true;
}

bool CScopeOptions::LeaveLines(long value, HWND owner)
{
    if (!ScopeSettings::ValidRows(value)) {
        m_library.Ui().Message(
            owner,
            RangeText("Invalid lines.\nValid entries are %d to %d", ScopeSettings::MinRows, ScopeSettings::MaxRows)
                .c_str(),
            MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    m_lines = value;
    return true;
}

CScopeOptions::Result CScopeOptions::Ok(HWND owner)
{
    const ScopeSettings &settings = m_library.Settings();
    if (m_width == long(settings.columns) && m_lines == long(settings.rows))
        return Unchanged;
    if (m_library.Ui().Message(owner, ScopeResizeQuestion, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return Stay;
    return m_library.Resize(unsigned(m_lines), unsigned(m_width), owner) ? Applied : Failed;
}
