// CTestContainer: a small OLE container for driving a document server the
// way a container program would. Its window holds one embedded object,
// drawn from the object's cached picture; its document is a compound file
// whose storage "Object1" holds the object. The site, frame and advise
// sink it lends the object record every call they receive, so that a test
// sees what the server asked of its container.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <string>
#include <vector>

class CTestContainer : public IOleClientSite, public IAdviseSink, public IOleInPlaceSite, public IOleInPlaceFrame {
public:
    static const char ClassName[];  // "QorTestContainer"

    CTestContainer();
    ~CTestContainer();
    CTestContainer(const CTestContainer &) = delete;
    CTestContainer &operator=(const CTestContainer &) = delete;

    // The container's window (with a "&File" and a "&Window" menu) and a
    // new document in memory.
    bool Create(HINSTANCE instance, const std::string &title);
    HWND Window() const { return m_hwnd; }
    // A new object of the class in the document.
    HRESULT Insert(const CLSID &clsid);
    // The object again from the document file at path (saved by SaveAs).
    HRESULT Load(const std::string &path);
    HRESULT DoVerb(LONG verb);
    // The object saved into its storage and the document committed to path.
    HRESULT SaveAs(const std::string &path);
    HRESULT Close(DWORD saveOption);
    // Lets the object go and closes the document.
    void Discard();
    IOleObject *Object() const { return m_object; }
    IStorage *ObjectStorage() const { return m_objectStorage; }
    // Where the object sits in the window (client coordinates).
    RECT ObjectRect() const { return m_rect; }
    // Whether the object is active in the window.
    bool InPlaceActive() const { return m_inPlace != nullptr; }
    HWND ActiveObjectWindow() const { return m_activeWindow; }

    // What the object asked, in order ("OnShowWindow 1", "SaveObject", ...).
    std::vector<std::string> Calls() const { return m_calls; }
    bool Called(const std::string &call) const;
    void ClearCalls() { m_calls.clear(); }

    // Handles window messages (COM's incoming calls among them) until done
    // answers true or ms passed; done's last answer.
    template <class F> bool PumpUntil(F done, DWORD ms)
    {
        DWORD start = GetTickCount();
        for (;;) {
            MSG msg;
            while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            if (done())
                return true;
            if (GetTickCount() - start > ms)
                return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        }
    }
    void Pump(DWORD ms)
    {
        PumpUntil([] { return false; }, ms);
    }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void **object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&m_refs)); }
    STDMETHODIMP_(ULONG) Release() override { return ULONG(InterlockedDecrement(&m_refs)); }
    // IOleClientSite
    STDMETHODIMP SaveObject() override;
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker **moniker) override;
    STDMETHODIMP GetContainer(IOleContainer **container) override;
    STDMETHODIMP ShowObject() override;
    STDMETHODIMP OnShowWindow(BOOL show) override;
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
    // IAdviseSink
    STDMETHODIMP_(void) OnDataChange(FORMATETC *, STGMEDIUM *) override;
    STDMETHODIMP_(void) OnViewChange(DWORD, LONG) override;
    STDMETHODIMP_(void) OnRename(IMoniker *) override { Record("OnRename"); }
    STDMETHODIMP_(void) OnSave() override { Record("OnSave"); }
    STDMETHODIMP_(void) OnClose() override { Record("OnClose"); }
    // IOleWindow
    STDMETHODIMP GetWindow(HWND *window) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return S_OK; }
    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override;
    STDMETHODIMP OnInPlaceActivate() override;
    STDMETHODIMP OnUIActivate() override;
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame **frame, IOleInPlaceUIWindow **document, LPRECT position,
                                  LPRECT clip, LPOLEINPLACEFRAMEINFO info) override;
    STDMETHODIMP Scroll(SIZE) override { return S_OK; }
    STDMETHODIMP OnUIDeactivate(BOOL) override;
    STDMETHODIMP OnInPlaceDeactivate() override;
    STDMETHODIMP DiscardUndoState() override { return S_OK; }
    STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
    STDMETHODIMP OnPosRectChange(LPCRECT position) override;
    // IOleInPlaceUIWindow
    STDMETHODIMP GetBorder(LPRECT border) override;
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS widths) override;
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject *object, LPCOLESTR name) override;
    // IOleInPlaceFrame
    STDMETHODIMP InsertMenus(HMENU shared, LPOLEMENUGROUPWIDTHS widths) override;
    STDMETHODIMP SetMenu(HMENU shared, HOLEMENU descriptor, HWND activeObject) override;
    STDMETHODIMP RemoveMenus(HMENU shared) override;
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // Whether the object may become active in the window (default yes).
    bool allowInPlace = true;

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void Paint();
    void Record(const std::string &call) { m_calls.push_back(call); }
    HRESULT Attach();
    bool NewDocument();

    LONG m_refs = 1;
    HWND m_hwnd = NULL;
    HMENU m_menu = NULL, m_file = NULL, m_windowMenu = NULL;
    IStorage *m_root = nullptr, *m_objectStorage = nullptr;
    IOleObject *m_object = nullptr;
    IOleInPlaceObject *m_inPlace = nullptr;
    IOleInPlaceActiveObject *m_active = nullptr;
    HWND m_activeWindow = NULL;
    DWORD m_advise = 0;
    bool m_openElsewhere = false;
    RECT m_rect{20, 40, 420, 340};
    std::string m_title;
    std::vector<std::string> m_calls;
};
