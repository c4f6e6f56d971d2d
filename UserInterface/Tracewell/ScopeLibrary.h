// The data monitor's application object: settings, the byte ring under the
// library's one critical section, the pause and topmost flags, and the one
// frame window. The exports are thin calls into it; it runs on the caller's
// threads, the window on the thread that opened it.
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>
#include "Profile.h"
#include "ScopeHelp.h"
#include "ScopeRing.h"
#include "ScopeSettings.h"

class CDisplayFrame;

// The message boxes and the colour dialog; tests put a recorder behind it.
class IScopeUi {
public:
    virtual ~IScopeUi() = default;
    virtual int Message(HWND owner, const char *text, UINT flags) = 0;
    // True when the user chose a colour (then in colour).
    virtual bool ChooseColour(HWND owner, uint32_t &colour) = 0;
};

// Counters that tests and the benchmark read.
struct ScopeCounters {
    volatile LONG updatesPosted;   // update messages posted to the frame
    volatile LONG updatesHandled;  // update messages the frame handled
    volatile LONG repaints;        // paints of the view that drew lines
};

extern const char ScopeMemoryFailure[];  // "Memory allocation failure."
extern const char ScopeFrameFailure[];   // "Frame creation failed"

class CScopeLibrary {
public:
    // The one object of the process.
    static CScopeLibrary &Instance();

    // At load: the critical section, the settings from the profile (which
    // stays in use for later writes). At unload: the font choice is written.
    void Load(IProfileStore *profile);
    void Unload();
    bool IsLoaded() const { return m_loaded; }

    // The exports.
    int Open(HWND parent);
    LRESULT Close();
    int IsOpen();
    int Send(const uint8_t *bytes, unsigned short length, int direction);

    // Seams. Null restores the real ones.
    void SetUi(IScopeUi *ui);
    void SetHelp(IScopeHelpLocator *locator, IScopeHelpControl *control);
    // Where the view looks for its font files; empty: beside the library.
    void SetFontFolder(const std::string &folder) { m_fontFolder = folder; }
    std::string FontFolder() const;
    IScopeUi &Ui() { return *m_ui; }
    IScopeHelpLocator &HelpLocator() { return *m_helpLocator; }
    IScopeHelpControl &HelpControl() { return *m_helpControl; }
    IProfileStore &Profile() { return *m_profile; }

    // For the frame and the view, on the window's thread.
    void Lock() { EnterCriticalSection(&m_lock); }
    void Unlock() { LeaveCriticalSection(&m_lock); }
    CScopeRing &Ring() { return m_ring; }  // under Lock()
    ScopeSettings &Settings() { return m_settings; }
    bool Paused() const { return m_paused; }
    void SetPaused(bool paused) { m_paused = paused; }
    bool Topmost() const { return m_topmost; }
    void SetTopmost(bool topmost) { m_topmost = topmost; }
    HMODULE Module() const;
    CDisplayFrame *Frame() { return m_frame; }
    ScopeCounters &Counters() { return m_counters; }
    // The frame took the posted update: the next append posts again.
    void UpdateTaken() { InterlockedExchange(&m_updatePending, 0); }
    // The frame shows what it last saw without a posted message: true when
    // no update was pending (one is now).
    bool ClaimUpdate() { return InterlockedCompareExchange(&m_updatePending, 1, 0) == 0; }
    // Appends accepted so far (the frame compares it with what it showed).
    LONG Appends() const { return m_appends; }
    // Empties the ring.
    void ClearRing();
    // The options change: new sizes written to the profile, the ring emptied
    // and reallocated; false (after the message) when allocation failed.
    bool Resize(unsigned rows, unsigned columns, HWND owner);
    // The frame's window is gone: frees the ring, forgets the window.
    void FrameDestroyed();
    // Writes one colour after the colour dialog.
    void SaveColour(int which) { m_settings.SaveColour(*m_profile, which); }

private:
    CScopeLibrary();

    bool m_loaded = false;
    CRITICAL_SECTION m_lock;
    ScopeSettings m_settings;
    IProfileStore *m_profile = nullptr;
    CScopeRing m_ring;
    volatile bool m_paused = false;
    bool m_topmost = false;
    CDisplayFrame *m_frame = nullptr;
    HWND m_frameWindow = NULL;  // read by the appender under the lock
    volatile LONG m_updatePending = 0;
    volatile LONG m_appends = 0;
    ScopeCounters m_counters = {};
    IScopeUi *m_ui;
    std::string m_fontFolder;
    IScopeHelpLocator *m_helpLocator;
    IScopeHelpControl *m_helpControl;
};

// The update the appender posts to the frame (one pending at a time).
enum { WM_SCOPE_UPDATE = WM_APP + 1 };
