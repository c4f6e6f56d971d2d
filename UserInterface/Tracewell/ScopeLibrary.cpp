#include "ScopeLibrary.h"
#include <commdlg.h>
#include "DisplayFrame.h"

const char ScopeMemoryFailure[] = "Memory allocation failure.";
const char ScopeFrameFailure[] = "Frame creation failed";

namespace {

class CRealScopeUi : public IScopeUi {
public:
    int Message(HWND owner, const char *text, UINT flags) override
    {
        return MessageBoxA(owner, text, ScopeApplication, flags);
    }
    bool ChooseColour(HWND owner, uint32_t &colour) override
    {
        static COLORREF custom[16];
        CHOOSECOLORA choose = {};
        choose.lStructSize = sizeof(choose);
        choose.hwndOwner = owner;
        choose.rgbResult = colour;
        choose.lpCustColors = custom;
        choose.Flags = CC_RGBINIT;
        if (!ChooseColorA(&choose))
            return false;
        colour = choose.rgbResult;
        return true;
    }
};

CRealScopeUi g_realUi;
CScopeHelpLocator g_realLocator;
CScopeHelpControl g_realHelpControl;

}  // namespace

CScopeLibrary &CScopeLibrary::Instance()
{
    static CScopeLibrary library;
    return library;
}

CScopeLibrary::CScopeLibrary() : m_ui(&g_realUi), m_helpLocator(&g_realLocator), m_helpControl(&g_realHelpControl)
{
}

HMODULE CScopeLibrary::Module() const
{
    HMODULE module = NULL;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&CScopeLibrary::Instance), &module);
    return module;
}

std::string CScopeLibrary::FontFolder() const
{
    if (!m_fontFolder.empty())
        return m_fontFolder;
    char path[MAX_PATH] = {0};
    GetModuleFileNameA(Module(), path, MAX_PATH);
    std::string folder(path);
    const size_t slash = folder.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : folder.substr(0, slash);
}

void CScopeLibrary::Load(IProfileStore *profile)
{
    if (m_loaded)
        return;
    InitializeCriticalSection(&m_lock);
    m_profile = profile;
    m_settings = ScopeSettings();
    m_settings.Load(*m_profile);
    m_paused = false;
    m_topmost = false;
    m_loaded = true;
}

void CScopeLibrary::Unload()
{
    if (!m_loaded)
        return;
    m_settings.SaveFont(*m_profile);
    m_ring.Free();
    DeleteCriticalSection(&m_lock);
    m_loaded = false;
}

void CScopeLibrary::SetUi(IScopeUi *ui)
{
    m_ui = ui ? ui : &g_realUi;
}

void CScopeLibrary::SetHelp(IScopeHelpLocator *locator, IScopeHelpControl *control)
{
    m_helpLocator = locator ? locator : &g_realLocator;
    m_helpControl = control ? control : &g_realHelpControl;
}

int CScopeLibrary::Open(HWND parent)
{
    if (!m_loaded || m_frame)
        return 0;
    Lock();
    m_paused = false;
    const bool allocated = m_ring.Allocate(m_settings.columns, m_settings.rows + 1);
    Unlock();
    if (!allocated) {
        m_ui->Message(parent, ScopeMemoryFailure, MB_OK | MB_ICONSTOP);
        return 0;
    }
    CDisplayFrame *frame = new CDisplayFrame(*this);
    m_frame = frame;
    if (!frame->Create(parent)) {
        m_frame = nullptr;
        delete frame;
        Lock();
        m_ring.Free();
        Unlock();
        m_ui->Message(parent, ScopeFrameFailure, MB_OK | MB_ICONSTOP);
        return 0;
    }
    InterlockedExchange(&m_updatePending, 0);
    Lock();
    m_frameWindow = frame->Window();
    Unlock();
    frame->Show();
    return 1;
}

LRESULT CScopeLibrary::Close()
{
    if (!m_loaded)
        return 0;
    Lock();
    HWND window = m_frameWindow;
    Unlock();
    return window ? SendMessageA(window, WM_CLOSE, 0, 0) : 0;
}

int CScopeLibrary::IsOpen()
{
    if (!m_loaded)
        return 0;
    Lock();
    const bool open = m_frameWindow != NULL;
    Unlock();
    return open ? 1 : 0;
}

int CScopeLibrary::Send(const uint8_t *bytes, unsigned short length, int direction)
{
    if (length == 0 || !m_loaded)
        return 0;
    if (!bytes)
        return 0;
    if (m_paused)
        return 1;
    Lock();
    HWND window = m_frameWindow;
    if (!window || !m_ring.IsAllocated()) {
        Unlock();
        return 0;
    }
    m_ring.Append(bytes, length, direction);
    InterlockedIncrement(&m_appends);
    Unlock();
    // The view belongs to the window's thread: it only hears of the new
    // bytes through one posted message, whatever the number of appends.
    if (InterlockedExchange(&m_updatePending, 1) == 0) {
        if (PostMessageA(window, WM_SCOPE_UPDATE, 0, 0))
            InterlockedIncrement(&m_counters.updatesPosted);
        else
            InterlockedExchange(&m_updatePending, 0);
    }
    return 1;
}

void CScopeLibrary::ClearRing()
{
    Lock();
    m_ring.Clear();
    Unlock();
}

bool CScopeLibrary::Resize(unsigned rows, unsigned columns, HWND owner)
{
    m_settings.rows = rows;
    m_settings.columns = columns;
    m_settings.SaveSize(*m_profile);
    Lock();
    const bool allocated = m_ring.Allocate(columns, rows + 1);
    Unlock();
    if (!allocated)
        m_ui->Message(owner, ScopeMemoryFailure, MB_OK | MB_ICONSTOP);
    return allocated;
}

void CScopeLibrary::FrameDestroyed()
{
    Lock();
    m_ring.Free();
    m_frameWindow = NULL;
    Unlock();
    m_frame = nullptr;
    InterlockedExchange(&m_updatePending, 0);
}
