// The document server side of the class layer: a program's document offered
// to containers as an embedded object. COleServerObject is the object the
// container holds (IOleObject, IDataObject, IPersistStorage and, while it is
// active in the container's window, IOleInPlaceObject and
// IOleInPlaceActiveObject); CServerItem draws the object's picture;
// CTemplateServer registers the class in the registry and its class object,
// single-use, so that every embedded object starts a process of its own.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <functional>
#include <string>
#include <vector>
#include "Archive.h"

class CInPlaceFrameWnd;

// The object's content aspect: its extent and its picture.
class CServerItem {
public:
    virtual ~CServerItem() = default;
    // In HIMETRIC units.
    virtual SIZEL Extent() const = 0;
    // Draws the content into bounds (logical units of dc, y down).
    virtual void Draw(HDC dc, const RECT &bounds) = 0;

    // The picture as a metafile picture (MM_ANISOTROPIC, HIMETRIC extent)
    // or an enhanced metafile; the caller owns what it gets.
    HGLOBAL MetafilePicture();
    HENHMETAFILE EnhancedMetafile();
};

// What the embedded object asks of the program's document.
class IServerDocument {
public:
    virtual ~IServerDocument() = default;
    // A new object: the document's new step; false refuses the object.
    virtual bool OnNewEmbedding() = 0;
    // The document's data into or out of the container's storage; loading
    // raises CArchiveException on a damaged stream.
    virtual void Serialize(CArchive &archive) = 0;
    // After the data was loaded: what the document needs to show it; false
    // refuses the object.
    virtual bool OnLoadedEmbedding() = 0;
    // Whether the data differs from what the container holds; a save into
    // the container's storage marks it the same.
    virtual bool IsEmbeddingModified() = 0;
    virtual void SetEmbeddingSaved() = 0;
    virtual CServerItem &Item() = 0;
    // The document's own window with the embedded menu; title names the
    // object and its container.
    virtual bool ShowOpenWindow(const std::string &title) = 0;
    virtual void HideOpenWindow() = 0;
    virtual bool OpenWindowShown() = 0;
    // The frame that holds the document inside the container's window, or
    // null when the document cannot be active there.
    virtual CInPlaceFrameWnd *InPlaceFrame() = 0;
    // The in-place frame's window is gone: the document is back in its own
    // window (or none).
    virtual void OnInPlaceDeactivated() = 0;
    // A close the user asked for may keep the object open (false).
    virtual bool QueryClose() = 0;
    // No container holds the object any more.
    virtual void OnReleased() = 0;
};

class COleServerObject : public IOleObject,
                         public IDataObject,
                         public IPersistStorage,
                         public IOleInPlaceObject,
                         public IOleInPlaceActiveObject {
public:
    COleServerObject(const CLSID &clsid, IServerDocument &document);
    COleServerObject(const COleServerObject &) = delete;
    COleServerObject &operator=(const COleServerObject &) = delete;

    // The stream in the container's storage that holds the document.
    static const wchar_t ContentsStream[];

    // The document changed what the picture shows or what the storage holds.
    void NotifyChanged();
    // The user's Update: the container saves the object now; its failure.
    HRESULT SaveToContainer();
    // The user closed the object's window: the container is told, saves
    // what changed and lets the object go. A close the document refused
    // (OLE_E_PROMPTSAVECANCELLED) or a save the container failed leaves the
    // object open; the failure.
    HRESULT CloseFromUser();
    // Ends the in-place activation (Escape), as the container would.
    void EndInPlace();

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void **object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite *site) override;
    STDMETHODIMP GetClientSite(IOleClientSite **site) override;
    STDMETHODIMP SetHostNames(LPCOLESTR containerApp, LPCOLESTR containerObject) override;
    STDMETHODIMP Close(DWORD saveOption) override;
    STDMETHODIMP SetMoniker(DWORD, IMoniker *) override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker **moniker) override;
    STDMETHODIMP InitFromData(IDataObject *, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject **data) override;
    STDMETHODIMP DoVerb(LONG verb, LPMSG msg, IOleClientSite *activeSite, LONG index, HWND parent,
                        LPCRECT posRect) override;
    STDMETHODIMP EnumVerbs(IEnumOLEVERB **verbs) override;
    STDMETHODIMP Update() override { return S_OK; }
    STDMETHODIMP IsUpToDate() override { return S_OK; }
    STDMETHODIMP GetUserClassID(CLSID *clsid) override;
    STDMETHODIMP GetUserType(DWORD form, LPOLESTR *userType) override;
    STDMETHODIMP SetExtent(DWORD aspect, SIZEL *size) override;
    STDMETHODIMP GetExtent(DWORD aspect, SIZEL *size) override;
    STDMETHODIMP Advise(IAdviseSink *sink, DWORD *connection) override;
    STDMETHODIMP Unadvise(DWORD connection) override;
    STDMETHODIMP EnumAdvise(IEnumSTATDATA **advise) override;
    STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD *status) override;
    STDMETHODIMP SetColorScheme(LOGPALETTE *) override { return E_NOTIMPL; }

    // IDataObject
    STDMETHODIMP GetData(FORMATETC *format, STGMEDIUM *medium) override;
    STDMETHODIMP GetDataHere(FORMATETC *, STGMEDIUM *) override { return DV_E_FORMATETC; }
    STDMETHODIMP QueryGetData(FORMATETC *format) override;
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC *in, FORMATETC *out) override;
    STDMETHODIMP SetData(FORMATETC *, STGMEDIUM *, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC **formats) override;
    STDMETHODIMP DAdvise(FORMATETC *format, DWORD flags, IAdviseSink *sink, DWORD *connection) override;
    STDMETHODIMP DUnadvise(DWORD connection) override;
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA **advise) override;

    // IPersistStorage
    STDMETHODIMP GetClassID(CLSID *clsid) override;
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP InitNew(IStorage *storage) override;
    STDMETHODIMP Load(IStorage *storage) override;
    STDMETHODIMP Save(IStorage *storage, BOOL sameAsLoad) override;
    STDMETHODIMP SaveCompleted(IStorage *storage) override;
    STDMETHODIMP HandsOffStorage() override;

    // IOleWindow (of both in-place interfaces)
    STDMETHODIMP GetWindow(HWND *window) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return S_OK; }
    // IOleInPlaceObject
    STDMETHODIMP InPlaceDeactivate() override;
    STDMETHODIMP UIDeactivate() override;
    STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT clip) override;
    STDMETHODIMP ReactivateAndUndo() override { return INPLACE_E_NOTUNDOABLE; }
    // IOleInPlaceActiveObject: a local server's own message loop takes its
    // keys, so the container's call has nothing to translate.
    STDMETHODIMP TranslateAccelerator(LPMSG) override { return S_FALSE; }
    STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnDocWindowActivate(BOOL activate) override;
    STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow *, BOOL) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }

private:
    virtual ~COleServerObject();
    void Destroy();
    // The document's question (ask), the container's save of what changed
    // (save), then the close; the object stays open on a refusal or a
    // failed save.
    HRESULT SaveAndClose(bool ask, bool save);
    // A failed InitNew or Load: the container's references are severed.
    HRESULT Refuse(HRESULT hr);
    static LRESULT CALLBACK NotifyProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    enum class StorageState { Uninitialised, Normal, NoScribble, HandsOff };

    bool FormatSupported(const FORMATETC &format) const;
    HRESULT ShowOpen();
    HRESULT ActivateInPlace(IOleClientSite *site, bool uiActivate);
    HRESULT ActivateUI();
    void SetSharedMenu(bool on);
    // Closes every window, tells the container and severs its references.
    void CloseObject();
    std::string Title() const;

    LONG m_refs = 1;
    CLSID m_clsid;
    IServerDocument &m_doc;
    DWORD m_thread;
    HWND m_notify = NULL;  // ends the object on its own thread
    IOleClientSite *m_site = nullptr;
    IOleAdviseHolder *m_oleAdvise = nullptr;
    IDataAdviseHolder *m_dataAdvise = nullptr;
    IStorage *m_storage = nullptr;
    StorageState m_storageState = StorageState::Uninitialised;
    // What the last Save wrote, for SaveCompleted to mark the document saved.
    enum class PendingSave { None, Own, Other } m_pendingSave = PendingSave::None;
    std::wstring m_containerApp, m_containerObject;
    bool m_closing = false;

    // In place.
    IOleInPlaceSite *m_inPlaceSite = nullptr;
    IOleInPlaceFrame *m_inPlaceFrame = nullptr;
    IOleInPlaceUIWindow *m_inPlaceDoc = nullptr;
    OLEINPLACEFRAMEINFO m_frameInfo{};
    CInPlaceFrameWnd *m_frame = nullptr;
    bool m_inPlaceActive = false, m_uiActive = false;
};

// The template server: the class in the registry and its class object.
class CTemplateServer : public IClassFactory {
public:
    // The registry texts of the class.
    struct Registration {
        CLSID clsid;
        std::string progId;      // "UserInterface.Document"
        std::string typeName;    // the full type name, the class's default value
        std::string shortName;   // AuxUserType 2
        std::string appName;     // AuxUserType 3
        std::vector<std::string> verbs;  // "&Edit" (verb 0), "&Open" (verb 1), ...
        DWORD miscStatus = 0;
    };
    // The document template's string: the fields between its line feeds.
    static std::vector<std::string> TemplateFields(const std::string &text);

    CTemplateServer(const Registration &registration, std::function<COleServerObject *()> create);
    ~CTemplateServer();

    // Writes the class's keys for the program at path (the local server,
    // OLE's own handler, the ProgID, verbs, misc status, icon, insertable);
    // false when a key could not be written.
    bool Register(const std::string &programPath) const;
    // Removes the class's and the ProgID's keys.
    void Unregister() const;
    // The class object, single-use: a second object starts another process.
    HRESULT RegisterClassObject();
    void RevokeClassObject();
    // Whether the class object has made its object.
    bool Created() const { return m_created; }
    // A process that COM started for an object that never came (its caller
    // gave up, or the start was a stray): the thread's message loop is told
    // to quit when no object was made within ms.
    void QuitIfUnused(DWORD ms);

    // IUnknown: the class object lives as long as the program.
    STDMETHODIMP QueryInterface(REFIID riid, void **object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    // IClassFactory
    STDMETHODIMP CreateInstance(IUnknown *outer, REFIID riid, void **object) override;
    STDMETHODIMP LockServer(BOOL) override;

private:
    static void CALLBACK UnusedTimer(HWND, UINT, UINT_PTR timer, DWORD);

    Registration m_reg;
    std::function<COleServerObject *()> m_create;
    DWORD m_cookie = 0;
    bool m_created = false;
    UINT_PTR m_unusedTimer = 0;
};

// The class id in its registry form, "{...}".
std::string ClsidText(const CLSID &clsid);
