#include "OleServer.h"
#include "InPlaceFrame.h"
#include "WindowClass.h"
#include <shlobj.h>

const wchar_t COleServerObject::ContentsStream[] = L"Contents";


namespace {

std::string Narrow(const std::wstring &text)
{
    int length = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, NULL, 0, NULL, NULL);
    std::string narrow(size_t(length > 0 ? length : 1), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &narrow[0], length, NULL, NULL);
    narrow.resize(strlen(narrow.c_str()));
    return narrow;
}

template <class T> void ReleaseInto(T *&pointer)
{
    if (pointer)
        pointer->Release();
    pointer = nullptr;
}

// The content as metafile records: a window of the item's extent in
// HIMETRIC, so that any container scales it to its own rectangle.
void Record(HDC dc, CServerItem &item, const SIZEL &extent)
{
    SetMapMode(dc, MM_ANISOTROPIC);
    SetWindowOrgEx(dc, 0, 0, NULL);
    SetWindowExtEx(dc, extent.cx, extent.cy, NULL);
    RECT bounds = {0, 0, extent.cx, extent.cy};
    item.Draw(dc, bounds);
}

} // namespace

// --- the item ----------------------------------------------------------------------

HGLOBAL CServerItem::MetafilePicture()
{
    HDC dc = CreateMetaFileA(NULL);
    if (!dc)
        return NULL;
    SIZEL extent = Extent();
    Record(dc, *this, extent);
    HMETAFILE metafile = CloseMetaFile(dc);
    HGLOBAL global = GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, sizeof(METAFILEPICT));
    if (!global || !metafile) {
        if (metafile)
            DeleteMetaFile(metafile);
        if (global)
            GlobalFree(global);
        return NULL;
    }
    METAFILEPICT *picture = static_cast<METAFILEPICT *>(GlobalLock(global));
    picture->mm = MM_ANISOTROPIC;
    picture->xExt = extent.cx;
    picture->yExt = extent.cy;
    picture->hMF = metafile;
    GlobalUnlock(global);
    return global;
}

HENHMETAFILE CServerItem::EnhancedMetafile()
{
    SIZEL extent = Extent();
    // The frame in 0.01 mm, HIMETRIC's own unit.
    RECT frame = {0, 0, extent.cx, extent.cy};
    HDC dc = CreateEnhMetaFileA(NULL, NULL, &frame, NULL);
    if (!dc)
        return NULL;
    Record(dc, *this, extent);
    return CloseEnhMetaFile(dc);
}

// --- the object --------------------------------------------------------------------

COleServerObject::COleServerObject(const CLSID &clsid, IServerDocument &document)
    : m_clsid(clsid), m_doc(document), m_thread(GetCurrentThreadId())
{
    CreateOleAdviseHolder(&m_oleAdvise);
    CreateDataAdviseHolder(&m_dataAdvise);
    static const char kNotifyClass[] = "ClassLibServerObject";
    HINSTANCE instance = GetModuleHandleA(NULL);
    if (RegisterWindowClass(instance, kNotifyClass, NotifyProc))
        m_notify = CreateWindowExA(0, kNotifyClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, instance, NULL);
    if (m_notify)
        SetWindowLongPtrA(m_notify, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

COleServerObject::~COleServerObject()
{
    if (m_notify)
        DestroyWindow(m_notify);
    ReleaseInto(m_inPlaceFrame);
    ReleaseInto(m_inPlaceDoc);
    ReleaseInto(m_inPlaceSite);
    ReleaseInto(m_storage);
    ReleaseInto(m_site);
    ReleaseInto(m_oleAdvise);
    ReleaseInto(m_dataAdvise);
}

STDMETHODIMP COleServerObject::QueryInterface(REFIID riid, void **object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IID_IOleObject)
        *object = static_cast<IOleObject *>(this);
    else if (riid == IID_IDataObject)
        *object = static_cast<IDataObject *>(this);
    else if (riid == IID_IPersistStorage || riid == IID_IPersist)
        *object = static_cast<IPersistStorage *>(this);
    else if (riid == IID_IOleInPlaceObject || riid == IID_IOleWindow)
        *object = static_cast<IOleInPlaceObject *>(this);
    else if (riid == IID_IOleInPlaceActiveObject)
        *object = static_cast<IOleInPlaceActiveObject *>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) COleServerObject::AddRef() { return ULONG(InterlockedIncrement(&m_refs)); }

STDMETHODIMP_(ULONG) COleServerObject::Release()
{
    LONG refs = InterlockedDecrement(&m_refs);
    if (refs != 0)
        return ULONG(refs);
    // Wine lets the last remote reference go on one of its RPC threads:
    // the object ends on its own thread, where the document lives.
    if (m_notify && GetCurrentThreadId() != m_thread && PostMessageA(m_notify, WM_APP, 0, 0))
        return 0;
    Destroy();
    return 0;
}

void COleServerObject::Destroy()
{
    // A container that let go while the object was active in its window
    // (or ended without deactivating it) leaves the frame there, and the
    // frame calls back into this object: it goes first. The count keeps a
    // container's AddRef and Release during the calls from ending the
    // object twice.
    if (m_inPlaceActive) {
        InterlockedIncrement(&m_refs);
        InPlaceDeactivate();
    }
    IServerDocument &doc = m_doc;
    delete this;
    doc.OnReleased();
}

LRESULT CALLBACK COleServerObject::NotifyProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto *self = reinterpret_cast<COleServerObject *>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (message == WM_APP) {
        if (self)
            self->Destroy();
        return 0;
    }
    if (message == WM_APP + 1) {
        // A refused object: no container can use it, so none keeps it.
        if (self) {
            self->AddRef();
            CoDisconnectObject(static_cast<IOleObject *>(self), 0);
            self->Release();
        }
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

void COleServerObject::NotifyChanged()
{
    // The container's cache asks for the picture again and redraws.
    if (m_dataAdvise)
        m_dataAdvise->SendOnDataChange(static_cast<IDataObject *>(this), 0, 0);
}

HRESULT COleServerObject::SaveToContainer()
{
    if (!m_site)
        return E_UNEXPECTED;
    // The container may let the object go while it saves.
    AddRef();
    HRESULT hr = m_site->SaveObject();
    if (SUCCEEDED(hr))
        NotifyChanged();
    Release();
    return hr;
}

HRESULT COleServerObject::SaveAndClose(bool ask, bool save)
{
    // The container may let the object go while the question is up or
    // while it saves.
    AddRef();
    HRESULT hr = S_OK;
    if (ask && !m_doc.QueryClose())
        hr = OLE_E_PROMPTSAVECANCELLED;
    else if (save && m_doc.IsEmbeddingModified() && m_site)
        hr = m_site->SaveObject();
    // What the container could not save stays open rather than lost.
    if (SUCCEEDED(hr))
        CloseObject();
    Release();
    return hr;
}

HRESULT COleServerObject::CloseFromUser() { return SaveAndClose(true, true); }

void COleServerObject::EndInPlace()
{
    InPlaceDeactivate();
}

void COleServerObject::CloseObject()
{
    if (m_closing)
        return;
    m_closing = true;
    AddRef();
    InPlaceDeactivate();
    if (m_doc.OpenWindowShown()) {
        m_doc.HideOpenWindow();
        if (m_site)
            m_site->OnShowWindow(FALSE);
    }
    if (m_dataAdvise)
        m_dataAdvise->SendOnDataChange(static_cast<IDataObject *>(this), 0, ADVF_DATAONSTOP);
    if (m_oleAdvise)
        m_oleAdvise->SendOnClose();
    // The container's proxies let go of the object; what it lent goes with
    // them, so no cycle keeps either side alive.
    ReleaseInto(m_site);
    ReleaseInto(m_storage);
    CoDisconnectObject(static_cast<IOleObject *>(this), 0);
    m_closing = false;
    Release();
}

std::string COleServerObject::Title() const
{
    std::string object = Narrow(m_containerObject), app = Narrow(m_containerApp);
    if (object.empty())
        object = app;
    return object;
}

// --- IOleObject --------------------------------------------------------------------

STDMETHODIMP COleServerObject::SetClientSite(IOleClientSite *site)
{
    if (site)
        site->AddRef();
    ReleaseInto(m_site);
    m_site = site;
    return S_OK;
}

STDMETHODIMP COleServerObject::GetClientSite(IOleClientSite **site)
{
    if (!site)
        return E_POINTER;
    *site = m_site;
    if (m_site)
        m_site->AddRef();
    return S_OK;
}

STDMETHODIMP COleServerObject::SetHostNames(LPCOLESTR containerApp, LPCOLESTR containerObject)
{
    m_containerApp = containerApp ? containerApp : L"";
    m_containerObject = containerObject ? containerObject : L"";
    if (m_doc.OpenWindowShown())
        m_doc.ShowOpenWindow(Title());
    return S_OK;
}

STDMETHODIMP COleServerObject::Close(DWORD saveOption)
{
    HRESULT hr = SaveAndClose(saveOption == OLECLOSE_PROMPTSAVE, saveOption != OLECLOSE_NOSAVE);
    return SUCCEEDED(hr) ? S_OK : hr;
}

STDMETHODIMP COleServerObject::GetMoniker(DWORD, DWORD, IMoniker **moniker)
{
    if (moniker)
        *moniker = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP COleServerObject::GetClipboardData(DWORD, IDataObject **data)
{
    if (data)
        *data = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP COleServerObject::DoVerb(LONG verb, LPMSG, IOleClientSite *activeSite, LONG, HWND, LPCRECT)
{
    switch (verb) {
    case OLEIVERB_HIDE:
        if (m_inPlaceActive)
            InPlaceDeactivate();
        if (m_doc.OpenWindowShown()) {
            m_doc.HideOpenWindow();
            if (m_site)
                m_site->OnShowWindow(FALSE);
        }
        return S_OK;
    case OLEIVERB_OPEN:
    case 1:
        return ShowOpen();
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_UIACTIVATE:
    case OLEIVERB_INPLACEACTIVATE: {
        // An object already open in its own window stays there.
        if (m_doc.OpenWindowShown() && !m_inPlaceActive)
            return ShowOpen();
        HRESULT hr = ActivateInPlace(activeSite ? activeSite : m_site, verb != OLEIVERB_INPLACEACTIVATE);
        if (SUCCEEDED(hr))
            return hr;
        if (verb == OLEIVERB_UIACTIVATE || verb == OLEIVERB_INPLACEACTIVATE)
            return OLEOBJ_S_CANNOT_DOVERB_NOW;
        return ShowOpen();
    }
    case OLEIVERB_DISCARDUNDOSTATE:
        return S_OK;
    default:
        if (verb < 0)
            return E_NOTIMPL;
        // An unknown positive verb does what the primary verb does.
        DoVerb(OLEIVERB_PRIMARY, nullptr, activeSite, 0, NULL, nullptr);
        return OLEOBJ_S_INVALIDVERB;
    }
}

HRESULT COleServerObject::ShowOpen()
{
    if (m_inPlaceActive)
        InPlaceDeactivate();
    if (!m_doc.ShowOpenWindow(Title()))
        return E_FAIL;
    if (m_site) {
        m_site->ShowObject();
        m_site->OnShowWindow(TRUE);
    }
    return S_OK;
}

STDMETHODIMP COleServerObject::EnumVerbs(IEnumOLEVERB **verbs) { return OleRegEnumVerbs(m_clsid, verbs); }

STDMETHODIMP COleServerObject::GetUserClassID(CLSID *clsid)
{
    if (!clsid)
        return E_POINTER;
    *clsid = m_clsid;
    return S_OK;
}

STDMETHODIMP COleServerObject::GetUserType(DWORD form, LPOLESTR *userType)
{
    return OleRegGetUserType(m_clsid, form, userType);
}

STDMETHODIMP COleServerObject::SetExtent(DWORD aspect, SIZEL *size)
{
    if (aspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    if (!size)
        return E_POINTER;
    // The item's extent is its own.
    SIZEL own = m_doc.Item().Extent();
    return size->cx == own.cx && size->cy == own.cy ? S_OK : E_FAIL;
}

STDMETHODIMP COleServerObject::GetExtent(DWORD aspect, SIZEL *size)
{
    if (!size)
        return E_POINTER;
    if (aspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    *size = m_doc.Item().Extent();
    return S_OK;
}

STDMETHODIMP COleServerObject::Advise(IAdviseSink *sink, DWORD *connection)
{
    return m_oleAdvise ? m_oleAdvise->Advise(sink, connection) : E_OUTOFMEMORY;
}

STDMETHODIMP COleServerObject::Unadvise(DWORD connection)
{
    return m_oleAdvise ? m_oleAdvise->Unadvise(connection) : OLE_E_NOCONNECTION;
}

STDMETHODIMP COleServerObject::EnumAdvise(IEnumSTATDATA **advise)
{
    return m_oleAdvise ? m_oleAdvise->EnumAdvise(advise) : E_OUTOFMEMORY;
}

STDMETHODIMP COleServerObject::GetMiscStatus(DWORD aspect, DWORD *status)
{
    if (!status)
        return E_POINTER;
    if (FAILED(OleRegGetMiscStatus(m_clsid, aspect, status)))
        *status = 0;
    return S_OK;
}

// --- IDataObject -------------------------------------------------------------------

bool COleServerObject::FormatSupported(const FORMATETC &format) const
{
    if (format.dwAspect != DVASPECT_CONTENT)
        return false;
    if (format.cfFormat == CF_METAFILEPICT)
        return (format.tymed & TYMED_MFPICT) != 0;
    if (format.cfFormat == CF_ENHMETAFILE)
        return (format.tymed & TYMED_ENHMF) != 0;
    return false;
}

STDMETHODIMP COleServerObject::GetData(FORMATETC *format, STGMEDIUM *medium)
{
    if (!format || !medium)
        return E_POINTER;
    if (format->dwAspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    if (!FormatSupported(*format))
        return DV_E_FORMATETC;
    medium->pUnkForRelease = nullptr;
    if (format->cfFormat == CF_METAFILEPICT) {
        medium->tymed = TYMED_MFPICT;
        medium->hMetaFilePict = m_doc.Item().MetafilePicture();
        return medium->hMetaFilePict ? S_OK : E_OUTOFMEMORY;
    }
    medium->tymed = TYMED_ENHMF;
    medium->hEnhMetaFile = m_doc.Item().EnhancedMetafile();
    return medium->hEnhMetaFile ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP COleServerObject::QueryGetData(FORMATETC *format)
{
    if (!format)
        return E_POINTER;
    if (format->dwAspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    return FormatSupported(*format) ? S_OK : DV_E_FORMATETC;
}

STDMETHODIMP COleServerObject::GetCanonicalFormatEtc(FORMATETC *in, FORMATETC *out)
{
    if (!in || !out)
        return E_POINTER;
    *out = *in;
    out->ptd = nullptr;
    return DATA_S_SAMEFORMATETC;
}

STDMETHODIMP COleServerObject::EnumFormatEtc(DWORD direction, IEnumFORMATETC **formats)
{
    if (!formats)
        return E_POINTER;
    *formats = nullptr;
    if (direction != DATADIR_GET)
        return E_NOTIMPL;
    FORMATETC list[] = {{CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_MFPICT},
                        {CF_ENHMETAFILE, nullptr, DVASPECT_CONTENT, -1, TYMED_ENHMF}};
    return SHCreateStdEnumFmtEtc(2, list, formats);
}

STDMETHODIMP COleServerObject::DAdvise(FORMATETC *format, DWORD flags, IAdviseSink *sink, DWORD *connection)
{
    if (!m_dataAdvise)
        return E_OUTOFMEMORY;
    return m_dataAdvise->Advise(static_cast<IDataObject *>(this), format, flags, sink, connection);
}

STDMETHODIMP COleServerObject::DUnadvise(DWORD connection)
{
    return m_dataAdvise ? m_dataAdvise->Unadvise(connection) : OLE_E_NOCONNECTION;
}

STDMETHODIMP COleServerObject::EnumDAdvise(IEnumSTATDATA **advise)
{
    return m_dataAdvise ? m_dataAdvise->EnumAdvise(advise) : E_OUTOFMEMORY;
}

// --- IPersistStorage ---------------------------------------------------------------

STDMETHODIMP COleServerObject::GetClassID(CLSID *clsid) { return GetUserClassID(clsid); }

STDMETHODIMP COleServerObject::IsDirty() { return m_doc.IsEmbeddingModified() ? S_OK : S_FALSE; }

STDMETHODIMP COleServerObject::InitNew(IStorage *storage)
{
    if (!storage)
        return E_POINTER;
    if (m_storageState != StorageState::Uninitialised)
        return CO_E_ALREADYINITIALIZED;
    if (!m_doc.OnNewEmbedding())
        return Refuse(E_FAIL);
    storage->AddRef();
    m_storage = storage;
    m_storageState = StorageState::Normal;
    return S_OK;
}

STDMETHODIMP COleServerObject::Load(IStorage *storage)
{
    if (!storage)
        return E_POINTER;
    if (m_storageState != StorageState::Uninitialised)
        return CO_E_ALREADYINITIALIZED;
    IStream *stream = nullptr;
    HRESULT hr = storage->OpenStream(ContentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream);
    if (FAILED(hr))
        return Refuse(hr);
    std::vector<uint8_t> bytes;
    for (;;) {
        uint8_t chunk[4096];
        ULONG read = 0;
        hr = stream->Read(chunk, sizeof chunk, &read);
        if (FAILED(hr) || read == 0)
            break;
        bytes.insert(bytes.end(), chunk, chunk + read);
    }
    stream->Release();
    if (FAILED(hr))
        return Refuse(hr);
    try {
        CArchive archive(bytes.data(), bytes.size());
        m_doc.Serialize(archive);
    } catch (const CArchiveException &) {
        return Refuse(STG_E_READFAULT);
    }
    if (!m_doc.OnLoadedEmbedding())
        return Refuse(E_FAIL);
    storage->AddRef();
    m_storage = storage;
    m_storageState = StorageState::Normal;
    return S_OK;
}

HRESULT COleServerObject::Refuse(HRESULT hr)
{
    // After the answer has gone out.
    if (m_notify)
        PostMessageA(m_notify, WM_APP + 1, 0, 0);
    return hr;
}

STDMETHODIMP COleServerObject::Save(IStorage *storage, BOOL sameAsLoad)
{
    if (!storage)
        return E_POINTER;
    if (sameAsLoad && m_storageState == StorageState::HandsOff)
        return E_UNEXPECTED;
    CArchive archive;
    m_doc.Serialize(archive);
    IStream *stream = nullptr;
    HRESULT hr = storage->CreateStream(ContentsStream, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                       &stream);
    if (FAILED(hr))
        return hr;
    const std::vector<uint8_t> &bytes = archive.Bytes();
    ULONG written = 0;
    hr = stream->Write(bytes.data(), ULONG(bytes.size()), &written);
    if (SUCCEEDED(hr) && written != bytes.size())
        hr = STG_E_WRITEFAULT;
    if (SUCCEEDED(hr)) {
        ULARGE_INTEGER size;
        size.QuadPart = bytes.size();
        stream->SetSize(size);
    }
    stream->Release();
    m_pendingSave = FAILED(hr) ? PendingSave::None : sameAsLoad ? PendingSave::Own : PendingSave::Other;
    if (FAILED(hr))
        return hr;
    m_storageState = StorageState::NoScribble;
    return S_OK;
}

STDMETHODIMP COleServerObject::SaveCompleted(IStorage *storage)
{
    if (!storage && m_storageState == StorageState::HandsOff)
        return E_UNEXPECTED;
    // The container holds the data only now, and only what a save that
    // succeeded wrote: into the object's own storage, or into the one it
    // takes from now on (a copy saved elsewhere leaves the object as it was).
    PendingSave pending = m_pendingSave;
    m_pendingSave = PendingSave::None;
    if (storage) {
        storage->AddRef();
        ReleaseInto(m_storage);
        m_storage = storage;
    }
    if (pending == PendingSave::Own || (storage && pending != PendingSave::None))
        m_doc.SetEmbeddingSaved();
    m_storageState = StorageState::Normal;
    if (m_oleAdvise)
        m_oleAdvise->SendOnSave();
    return S_OK;
}

STDMETHODIMP COleServerObject::HandsOffStorage()
{
    ReleaseInto(m_storage);
    m_storageState = StorageState::HandsOff;
    return S_OK;
}

// --- in place ----------------------------------------------------------------------

HRESULT COleServerObject::ActivateInPlace(IOleClientSite *site, bool uiActivate)
{
    if (!m_inPlaceActive) {
        if (!site)
            return E_UNEXPECTED;
        CInPlaceFrameWnd *frame = m_doc.InPlaceFrame();
        IOleInPlaceSite *inPlaceSite = nullptr;
        if (!frame || FAILED(site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void **>(&inPlaceSite))))
            return E_NOTIMPL;
        if (inPlaceSite->CanInPlaceActivate() != S_OK) {
            inPlaceSite->Release();
            return E_FAIL;
        }
        m_inPlaceSite = inPlaceSite;
        m_inPlaceSite->OnInPlaceActivate();
        HWND parent = NULL;
        RECT position{}, clip{};
        m_frameInfo = OLEINPLACEFRAMEINFO{};
        m_frameInfo.cb = sizeof m_frameInfo;
        HRESULT hr = m_inPlaceSite->GetWindow(&parent);
        if (SUCCEEDED(hr))
            hr = m_inPlaceSite->GetWindowContext(&m_inPlaceFrame, &m_inPlaceDoc, &position, &clip, &m_frameInfo);
        if (FAILED(hr) || !frame->CreateInPlace(parent, position, clip)) {
            ReleaseInto(m_inPlaceFrame);
            ReleaseInto(m_inPlaceDoc);
            m_inPlaceSite->OnInPlaceDeactivate();
            ReleaseInto(m_inPlaceSite);
            return FAILED(hr) ? hr : E_FAIL;
        }
        m_frame = frame;
        m_frame->OnPositionChanged([this](const RECT &wanted) {
            if (m_inPlaceSite)
                m_inPlaceSite->OnPosRectChange(&wanted);
        });
        m_inPlaceActive = true;
    }
    if (m_site)
        m_site->ShowObject();
    return uiActivate ? ActivateUI() : S_OK;
}

HRESULT COleServerObject::ActivateUI()
{
    if (m_uiActive)
        return S_OK;
    m_inPlaceSite->OnUIActivate();
    m_uiActive = true;
    // The short type name is what the container shows for the active object.
    LPOLESTR name = nullptr;
    OleRegGetUserType(m_clsid, USERCLASSTYPE_SHORT, &name);
    IOleInPlaceActiveObject *active = static_cast<IOleInPlaceActiveObject *>(this);
    if (m_inPlaceFrame)
        m_inPlaceFrame->SetActiveObject(active, name);
    if (m_inPlaceDoc)
        m_inPlaceDoc->SetActiveObject(active, name);
    CoTaskMemFree(name);
    SetSharedMenu(true);
    SetFocus(m_frame->Window());
    return S_OK;
}

void COleServerObject::SetSharedMenu(bool on)
{
    if (!m_frame || !m_inPlaceFrame)
        return;
    if (on) {
        m_frame->MergeMenus(m_inPlaceFrame);
        // No tools of the object's own take border space in the
        // container's frame.
        m_inPlaceFrame->SetBorderSpace(nullptr);
    } else {
        m_frame->UnmergeMenus(m_inPlaceFrame);
    }
}

STDMETHODIMP COleServerObject::GetWindow(HWND *window)
{
    if (!window)
        return E_POINTER;
    *window = m_frame ? m_frame->Window() : NULL;
    return *window ? S_OK : E_FAIL;
}

STDMETHODIMP COleServerObject::UIDeactivate()
{
    if (!m_uiActive)
        return S_OK;
    m_uiActive = false;
    SetSharedMenu(false);
    if (m_inPlaceFrame)
        m_inPlaceFrame->SetActiveObject(nullptr, nullptr);
    if (m_inPlaceDoc)
        m_inPlaceDoc->SetActiveObject(nullptr, nullptr);
    if (m_inPlaceSite)
        m_inPlaceSite->OnUIDeactivate(FALSE);
    return S_OK;
}

STDMETHODIMP COleServerObject::InPlaceDeactivate()
{
    if (!m_inPlaceActive)
        return S_OK;
    // Before the calls out: the container may deactivate again from them.
    m_inPlaceActive = false;
    UIDeactivate();
    if (m_frame) {
        m_frame->OnPositionChanged(nullptr);
        m_frame->DestroyInPlace();
        m_frame = nullptr;
    }
    m_doc.OnInPlaceDeactivated();
    ReleaseInto(m_inPlaceFrame);
    ReleaseInto(m_inPlaceDoc);
    if (m_inPlaceSite) {
        m_inPlaceSite->OnInPlaceDeactivate();
        ReleaseInto(m_inPlaceSite);
    }
    // The container draws the picture again where the window was.
    NotifyChanged();
    return S_OK;
}

STDMETHODIMP COleServerObject::SetObjectRects(LPCRECT position, LPCRECT clip)
{
    if (!position || !clip)
        return E_POINTER;
    if (!m_frame)
        return E_UNEXPECTED;
    m_frame->SetObjectRects(*position, *clip);
    return S_OK;
}

STDMETHODIMP COleServerObject::OnDocWindowActivate(BOOL activate)
{
    // The shared menu belongs to the active document window only.
    if (m_uiActive)
        SetSharedMenu(activate != FALSE);
    return S_OK;
}

// --- the template server -----------------------------------------------------------

std::string ClsidText(const CLSID &clsid)
{
    LPOLESTR text = nullptr;
    if (FAILED(StringFromCLSID(clsid, &text)))
        return std::string();
    std::string result = Narrow(text);
    CoTaskMemFree(text);
    return result;
}

std::vector<std::string> CTemplateServer::TemplateFields(const std::string &text)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t end = text.find('\n', start);
        fields.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return fields;
        start = end + 1;
    }
}

CTemplateServer::CTemplateServer(const Registration &registration, std::function<COleServerObject *()> create)
    : m_reg(registration), m_create(std::move(create))
{
}

namespace {
// The one template server whose start waits for its object (a thread
// timer's procedure is told only the timer).
CTemplateServer *g_unusedWatch = nullptr;
}

CTemplateServer::~CTemplateServer()
{
    if (m_unusedTimer)
        KillTimer(NULL, m_unusedTimer);
    if (g_unusedWatch == this)
        g_unusedWatch = nullptr;
    RevokeClassObject();
}

namespace {

bool SetKey(const std::string &key, const char *name, const std::string &value)
{
    HKEY handle;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, NULL, 0, KEY_WRITE, NULL, &handle, NULL) != ERROR_SUCCESS)
        return false;
    LONG rc = RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                             DWORD(value.size() + 1));
    RegCloseKey(handle);
    return rc == ERROR_SUCCESS;
}

void DeleteTree(const std::string &key)
{
    HKEY handle;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ | KEY_WRITE, &handle) != ERROR_SUCCESS)
        return;
    char child[256];
    while (RegEnumKeyA(handle, 0, child, sizeof child) == ERROR_SUCCESS) {
        DeleteTree(key + "\\" + child);
        // A child that will not go would loop here for ever.
        char again[256];
        if (RegEnumKeyA(handle, 0, again, sizeof again) == ERROR_SUCCESS && strcmp(again, child) == 0)
            break;
    }
    RegCloseKey(handle);
    RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str());
}

} // namespace

bool CTemplateServer::Register(const std::string &programPath) const
{
    const std::string clsid = ClsidText(m_reg.clsid), key = "CLSID\\" + clsid;
    bool ok = SetKey(key, nullptr, m_reg.typeName);
    ok = SetKey(key + "\\LocalServer32", nullptr, programPath) && ok;
    // OLE's own handler stands in the container's process for the object.
    ok = SetKey(key + "\\InprocHandler32", nullptr, "ole32.dll") && ok;
    ok = SetKey(key + "\\ProgID", nullptr, m_reg.progId) && ok;
    ok = SetKey(key + "\\Insertable", nullptr, "") && ok;
    ok = SetKey(key + "\\DefaultIcon", nullptr, programPath + ",0") && ok;
    ok = SetKey(key + "\\AuxUserType\\2", nullptr, m_reg.shortName) && ok;
    ok = SetKey(key + "\\AuxUserType\\3", nullptr, m_reg.appName) && ok;
    ok = SetKey(key + "\\MiscStatus", nullptr, std::to_string(m_reg.miscStatus)) && ok;
    for (size_t i = 0; i < m_reg.verbs.size(); ++i)
        // On the menu, and it does not change the object by itself.
        ok = SetKey(key + "\\Verb\\" + std::to_string(i), nullptr, m_reg.verbs[i] + ",0,2") && ok;
    ok = SetKey(m_reg.progId, nullptr, m_reg.typeName) && ok;
    ok = SetKey(m_reg.progId + "\\CLSID", nullptr, clsid) && ok;
    ok = SetKey(m_reg.progId + "\\Insertable", nullptr, "") && ok;
    return ok;
}

void CTemplateServer::Unregister() const
{
    DeleteTree("CLSID\\" + ClsidText(m_reg.clsid));
    DeleteTree(m_reg.progId);
}

HRESULT CTemplateServer::RegisterClassObject()
{
    if (m_cookie)
        return S_OK;
    return CoRegisterClassObject(m_reg.clsid, static_cast<IClassFactory *>(this), CLSCTX_LOCAL_SERVER,
                                 REGCLS_SINGLEUSE, &m_cookie);
}

void CTemplateServer::RevokeClassObject()
{
    if (m_cookie)
        CoRevokeClassObject(m_cookie);
    m_cookie = 0;
}

void CTemplateServer::QuitIfUnused(DWORD ms)
{
    if (m_unusedTimer)
        KillTimer(NULL, m_unusedTimer);
    g_unusedWatch = this;
    m_unusedTimer = SetTimer(NULL, 0, ms, UnusedTimer);
}

void CALLBACK CTemplateServer::UnusedTimer(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(NULL, timer);
    CTemplateServer *server = g_unusedWatch;
    if (!server || server->m_unusedTimer != timer)
        return;
    server->m_unusedTimer = 0;
    g_unusedWatch = nullptr;
    if (!server->m_created)
        PostQuitMessage(0);
}

STDMETHODIMP CTemplateServer::QueryInterface(REFIID riid, void **object)
{
    if (!object)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *object = static_cast<IClassFactory *>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP CTemplateServer::CreateInstance(IUnknown *outer, REFIID riid, void **object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    // One object per process: the class object is used up by the first.
    if (m_created)
        return CO_E_SERVER_STOPPING;
    COleServerObject *created = m_create ? m_create() : nullptr;
    if (!created)
        return E_OUTOFMEMORY;
    HRESULT hr = created->QueryInterface(riid, object);
    created->Release();
    if (SUCCEEDED(hr))
        m_created = true;
    return hr;
}

STDMETHODIMP CTemplateServer::LockServer(BOOL)
{
    // The process lives as long as its one object; a lock keeps nothing more.
    return S_OK;
}
