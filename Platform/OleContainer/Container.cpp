#include "Container.h"
#include <stdio.h>
#include "WindowClass.h"

const char CTestContainer::ClassName[] = "QorTestContainer";

namespace {

std::wstring Wide(const std::string &text)
{
    wchar_t wide[MAX_PATH * 2] = L"";
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide, MAX_PATH * 2);
    return wide;
}

std::string Narrow(LPCOLESTR text)
{
    char narrow[512] = "";
    if (text)
        WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, NULL, NULL);
    return narrow;
}

template <class T> void Drop(T *&pointer)
{
    if (pointer)
        pointer->Release();
    pointer = nullptr;
}

const wchar_t kObjectStorage[] = L"Object1";

} // namespace

CTestContainer::CTestContainer() {}

CTestContainer::~CTestContainer()
{
    Discard();
    if (m_hwnd)
        DestroyWindow(m_hwnd);
}

bool CTestContainer::Called(const std::string &call) const
{
    for (const std::string &c : m_calls)
        if (c == call)
            return true;
    return false;
}

bool CTestContainer::Create(HINSTANCE instance, const std::string &title)
{
    if (!RegisterWindowClass(instance, ClassName, Proc, 0, COLOR_WINDOW))
        return false;
    m_title = title;
    m_menu = CreateMenu();
    m_file = CreatePopupMenu();
    AppendMenuA(m_file, MF_STRING, 1, "&Save");
    AppendMenuA(m_file, MF_STRING, 2, "E&xit");
    m_windowMenu = CreatePopupMenu();
    AppendMenuA(m_windowMenu, MF_STRING, 3, "&Cascade");
    AppendMenuA(m_menu, MF_POPUP, UINT_PTR(m_file), "&File");
    AppendMenuA(m_menu, MF_POPUP, UINT_PTR(m_windowMenu), "&Window");
    m_hwnd = CreateWindowExA(0, ClassName, title.c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 640, 460,
                             NULL, m_menu, instance, this);
    if (!m_hwnd)
        return false;
    ShowWindow(m_hwnd, SW_SHOW);
    return NewDocument();
}

bool CTestContainer::NewDocument()
{
    ILockBytes *bytes = nullptr;
    if (FAILED(CreateILockBytesOnHGlobal(NULL, TRUE, &bytes)))
        return false;
    HRESULT hr = StgCreateDocfileOnILockBytes(bytes, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &m_root);
    bytes->Release();
    if (SUCCEEDED(hr))
        hr = m_root->CreateStorage(kObjectStorage, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                   &m_objectStorage);
    return SUCCEEDED(hr);
}

HRESULT CTestContainer::Attach()
{
    std::wstring app = Wide(m_title);
    m_object->SetHostNames(app.c_str(), L"Plant Report");
    OleSetContainedObject(m_object, TRUE);
    m_object->Advise(static_cast<IAdviseSink *>(this), &m_advise);
    IViewObject *view = nullptr;
    if (SUCCEEDED(m_object->QueryInterface(IID_IViewObject, reinterpret_cast<void **>(&view)))) {
        view->SetAdvise(DVASPECT_CONTENT, 0, static_cast<IAdviseSink *>(this));
        view->Release();
    }
    return S_OK;
}

HRESULT CTestContainer::Insert(const CLSID &clsid)
{
    if (!m_objectStorage)
        return E_UNEXPECTED;
    // The object's metafile picture in the cache, which draws it while the
    // object is not active.
    FORMATETC picture = {CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_MFPICT};
    HRESULT hr = OleCreate(clsid, IID_IOleObject, OLERENDER_FORMAT, &picture, static_cast<IOleClientSite *>(this),
                           m_objectStorage, reinterpret_cast<void **>(&m_object));
    Record("OleCreate " + std::to_string(unsigned(hr)));
    if (FAILED(hr))
        return hr;
    return Attach();
}

HRESULT CTestContainer::Load(const std::string &path)
{
    Discard();
    std::wstring file = Wide(path);
    HRESULT hr = StgOpenStorage(file.c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_TRANSACTED, nullptr,
                                0, &m_root);
    if (SUCCEEDED(hr))
        hr = m_root->OpenStorage(kObjectStorage, nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                 &m_objectStorage);
    if (SUCCEEDED(hr))
        hr = OleLoad(m_objectStorage, IID_IOleObject, static_cast<IOleClientSite *>(this),
                     reinterpret_cast<void **>(&m_object));
    Record("OleLoad " + std::to_string(unsigned(hr)));
    if (FAILED(hr))
        return hr;
    return Attach();
}

HRESULT CTestContainer::DoVerb(LONG verb)
{
    if (!m_object)
        return E_UNEXPECTED;
    return m_object->DoVerb(verb, nullptr, static_cast<IOleClientSite *>(this), 0, m_hwnd, &m_rect);
}

HRESULT CTestContainer::SaveAs(const std::string &path)
{
    if (!m_object)
        return E_UNEXPECTED;
    HRESULT hr = SaveObject();
    if (FAILED(hr))
        return hr;
    // The document as a file of its own, the object's storage inside.
    std::wstring file = Wide(path);
    IStorage *copy = nullptr;
    hr = StgCreateDocfile(file.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &copy);
    if (SUCCEEDED(hr)) {
        hr = m_root->CopyTo(0, nullptr, nullptr, copy);
        if (SUCCEEDED(hr))
            hr = copy->Commit(STGC_DEFAULT);
        copy->Release();
    }
    return hr;
}

HRESULT CTestContainer::Close(DWORD saveOption)
{
    return m_object ? m_object->Close(saveOption) : E_UNEXPECTED;
}

void CTestContainer::Discard()
{
    if (m_inPlace)
        m_inPlace->InPlaceDeactivate();
    Drop(m_inPlace);
    Drop(m_active);
    if (m_object) {
        if (m_advise)
            m_object->Unadvise(m_advise);
        m_advise = 0;
        m_object->Close(OLECLOSE_NOSAVE);
        m_object->SetClientSite(nullptr);
    }
    Drop(m_object);
    Drop(m_objectStorage);
    Drop(m_root);
}

// --- drawing -------------------------------------------------------------------------------

LRESULT CALLBACK CTestContainer::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
        SetWindowLongPtrA(hwnd, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA *>(lParam)->lpCreateParams));
    CTestContainer *self = reinterpret_cast<CTestContainer *>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self && message == WM_PAINT) {
        self->Paint();
        return 0;
    }
    if (self && message == WM_LBUTTONDBLCLK && self->m_object)
        self->DoVerb(OLEIVERB_PRIMARY);
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

void CTestContainer::Paint()
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hwnd, &paint);
    SetBkMode(dc, TRANSPARENT);
    const char heading[] = "Plant Report: the embedded configuration below";
    TextOutA(dc, m_rect.left, 12, heading, int(sizeof heading - 1));
    if (m_object && !m_inPlace) {
        RECTL bounds = {m_rect.left, m_rect.top, m_rect.right, m_rect.bottom};
        if (FAILED(OleDraw(m_object, DVASPECT_CONTENT, dc, reinterpret_cast<RECT *>(&bounds))))
            Rectangle(dc, m_rect.left, m_rect.top, m_rect.right, m_rect.bottom);
        // Open in its own window: hatched over, as containers mark it.
        if (m_openElsewhere) {
            HBRUSH hatch = CreateHatchBrush(HS_DIAGCROSS, RGB(96, 96, 96));
            HGDIOBJ old = SelectObject(dc, hatch);
            PatBlt(dc, m_rect.left, m_rect.top, m_rect.right - m_rect.left, m_rect.bottom - m_rect.top, 0xA000C9);
            SelectObject(dc, old);
            DeleteObject(hatch);
        }
    }
    EndPaint(m_hwnd, &paint);
}

// --- the site ------------------------------------------------------------------------------

STDMETHODIMP CTestContainer::QueryInterface(REFIID riid, void **object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IID_IOleClientSite)
        *object = static_cast<IOleClientSite *>(this);
    else if (riid == IID_IAdviseSink)
        *object = static_cast<IAdviseSink *>(this);
    else if (riid == IID_IOleInPlaceSite || riid == IID_IOleWindow)
        *object = static_cast<IOleInPlaceSite *>(this);
    else if (riid == IID_IOleInPlaceFrame || riid == IID_IOleInPlaceUIWindow)
        *object = static_cast<IOleInPlaceFrame *>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP CTestContainer::SaveObject()
{
    Record("SaveObject");
    if (!m_object || !m_objectStorage)
        return E_UNEXPECTED;
    IPersistStorage *persist = nullptr;
    HRESULT hr = m_object->QueryInterface(IID_IPersistStorage, reinterpret_cast<void **>(&persist));
    if (FAILED(hr))
        return hr;
    hr = OleSave(persist, m_objectStorage, TRUE);
    persist->SaveCompleted(nullptr);
    persist->Release();
    if (SUCCEEDED(hr))
        hr = m_objectStorage->Commit(STGC_DEFAULT);
    if (SUCCEEDED(hr) && m_root)
        hr = m_root->Commit(STGC_DEFAULT);
    return hr;
}

STDMETHODIMP CTestContainer::GetMoniker(DWORD, DWORD, IMoniker **moniker)
{
    if (moniker)
        *moniker = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CTestContainer::GetContainer(IOleContainer **container)
{
    if (container)
        *container = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP CTestContainer::ShowObject()
{
    Record("ShowObject");
    return S_OK;
}

STDMETHODIMP CTestContainer::OnShowWindow(BOOL show)
{
    Record(show ? "OnShowWindow 1" : "OnShowWindow 0");
    m_openElsewhere = show != FALSE;
    InvalidateRect(m_hwnd, NULL, TRUE);
    return S_OK;
}

STDMETHODIMP_(void) CTestContainer::OnDataChange(FORMATETC *, STGMEDIUM *) { Record("OnDataChange"); }

STDMETHODIMP_(void) CTestContainer::OnViewChange(DWORD, LONG)
{
    Record("OnViewChange");
    InvalidateRect(m_hwnd, NULL, TRUE);
}

STDMETHODIMP CTestContainer::GetWindow(HWND *window)
{
    if (!window)
        return E_POINTER;
    *window = m_hwnd;
    return S_OK;
}

STDMETHODIMP CTestContainer::CanInPlaceActivate()
{
    Record("CanInPlaceActivate");
    return allowInPlace ? S_OK : S_FALSE;
}

STDMETHODIMP CTestContainer::OnInPlaceActivate()
{
    Record("OnInPlaceActivate");
    InvalidateRect(m_hwnd, NULL, TRUE);
    if (m_object)
        m_object->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void **>(&m_inPlace));
    return S_OK;
}

STDMETHODIMP CTestContainer::OnUIActivate()
{
    Record("OnUIActivate");
    return S_OK;
}

STDMETHODIMP CTestContainer::GetWindowContext(IOleInPlaceFrame **frame, IOleInPlaceUIWindow **document,
                                              LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO info)
{
    if (!frame || !document || !position || !clip || !info)
        return E_POINTER;
    *frame = static_cast<IOleInPlaceFrame *>(this);
    AddRef();
    *document = nullptr;
    *position = m_rect;
    GetClientRect(m_hwnd, clip);
    info->fMDIApp = FALSE;
    info->hwndFrame = m_hwnd;
    info->haccel = NULL;
    info->cAccelEntries = 0;
    return S_OK;
}

STDMETHODIMP CTestContainer::OnUIDeactivate(BOOL)
{
    Record("OnUIDeactivate");
    ::SetMenu(m_hwnd, m_menu);
    return S_OK;
}

STDMETHODIMP CTestContainer::OnInPlaceDeactivate()
{
    Record("OnInPlaceDeactivate");
    Drop(m_inPlace);
    m_activeWindow = NULL;
    InvalidateRect(m_hwnd, NULL, TRUE);
    return S_OK;
}

STDMETHODIMP CTestContainer::OnPosRectChange(LPCRECT position)
{
    if (!position)
        return E_POINTER;
    Record("OnPosRectChange " + std::to_string(position->right - position->left) + "x" +
           std::to_string(position->bottom - position->top));
    m_rect = *position;
    RECT clip;
    GetClientRect(m_hwnd, &clip);
    if (m_inPlace)
        m_inPlace->SetObjectRects(&m_rect, &clip);
    return S_OK;
}

STDMETHODIMP CTestContainer::GetBorder(LPRECT border)
{
    if (!border)
        return E_POINTER;
    GetClientRect(m_hwnd, border);
    return S_OK;
}

STDMETHODIMP CTestContainer::SetBorderSpace(LPCBORDERWIDTHS widths)
{
    Record(widths ? "SetBorderSpace" : "SetBorderSpace none");
    return S_OK;
}

STDMETHODIMP CTestContainer::SetActiveObject(IOleInPlaceActiveObject *object, LPCOLESTR name)
{
    Record("SetActiveObject " + (object ? Narrow(name) : std::string("none")));
    if (object)
        object->AddRef();
    Drop(m_active);
    m_active = object;
    return S_OK;
}

STDMETHODIMP CTestContainer::InsertMenus(HMENU shared, LPOLEMENUGROUPWIDTHS widths)
{
    if (!widths)
        return E_POINTER;
    // The file group and the window group; the container group is empty.
    BOOL file = InsertMenuA(shared, 0, MF_BYPOSITION | MF_POPUP, UINT_PTR(m_file), "&File");
    BOOL window = InsertMenuA(shared, UINT(-1), MF_BYPOSITION | MF_POPUP, UINT_PTR(m_windowMenu), "&Window");
    Record(std::string("InsertMenus ") + (file && window ? "inserted" : "refused"));
    widths->width[0] = 1;
    widths->width[2] = 0;
    widths->width[4] = 1;
    return S_OK;
}

STDMETHODIMP CTestContainer::SetMenu(HMENU shared, HOLEMENU descriptor, HWND activeObject)
{
    if (!shared) {
        Record("SetMenu none");
        ::SetMenu(m_hwnd, m_menu);
        OleSetMenuDescriptor(NULL, m_hwnd, NULL, nullptr, nullptr);
        return S_OK;
    }
    m_activeWindow = activeObject;
    BOOL shown = ::SetMenu(m_hwnd, shared) && GetMenu(m_hwnd) == shared;
    Record(std::string("SetMenu ") + (descriptor ? "descriptor " : "no descriptor ") + (shown ? "shown" : "refused"));
    if (!shown)
        ::SetMenu(m_hwnd, m_menu);
    OleSetMenuDescriptor(descriptor, m_hwnd, activeObject, static_cast<IOleInPlaceFrame *>(this), m_active);
    DrawMenuBar(m_hwnd);
    return S_OK;
}

STDMETHODIMP CTestContainer::RemoveMenus(HMENU shared)
{
    Record("RemoveMenus");
    // The container's own popups leave the shared menu before it goes.
    for (int i = GetMenuItemCount(shared) - 1; i >= 0; --i) {
        HMENU popup = GetSubMenu(shared, i);
        if (popup == m_file || popup == m_windowMenu)
            RemoveMenu(shared, UINT(i), MF_BYPOSITION);
    }
    return S_OK;
}
