// The class layer's document server in one process: the object's storage,
// its picture formats, the shared menu's layout and the template's texts.
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>
#include "InPlaceFrame.h"
#include "OleServer.h"

namespace {

const CLSID kClsid = {0x1D7D3052, 0xF448, 0x11CF, {0x88, 0xD0, 0x00, 0xA0, 0x24, 0xA3, 0x4B, 0x1B}};

class FakeItem : public CServerItem {
public:
    SIZEL Extent() const override { return SIZEL{3000, 2000}; }
    void Draw(HDC dc, const RECT &bounds) override
    {
        ++draws;
        Rectangle(dc, bounds.left, bounds.top, bounds.right, bounds.bottom);
    }
    int draws = 0;
};

// A document whose data is one text.
class FakeDocument : public IServerDocument {
public:
    std::string text = "plant", loadedText;
    bool acceptNew = true, acceptLoad = true, modified = true;
    int loadedCalls = 0, released = 0, inPlaceDeactivated = 0;
    // How often the object had gone when it asked whether the data changed.
    int releasedWhenAsked = -1;
    // What the user does while the close question is up.
    std::function<void()> onQueryClose;
    CInPlaceFrameWnd *inPlaceFrame = nullptr;
    FakeItem item;

    bool OnNewEmbedding() override { return acceptNew; }
    void Serialize(CArchive &archive) override
    {
        if (archive.IsStoring())
            archive << uint16_t(1) << text;
        else {
            uint16_t schema = 0;
            archive >> schema >> loadedText;
        }
    }
    bool OnLoadedEmbedding() override
    {
        ++loadedCalls;
        return acceptLoad;
    }
    bool IsEmbeddingModified() override
    {
        releasedWhenAsked = released;
        return modified;
    }
    void SetEmbeddingSaved() override { modified = false; }
    CServerItem &Item() override { return item; }
    bool ShowOpenWindow(const std::string &) override { return false; }
    void HideOpenWindow() override {}
    bool OpenWindowShown() override { return false; }
    CInPlaceFrameWnd *InPlaceFrame() override { return inPlaceFrame; }
    void OnInPlaceDeactivated() override { ++inPlaceDeactivated; }
    bool QueryClose() override
    {
        if (onQueryClose)
            onQueryClose();
        return true;
    }
    void OnReleased() override { ++released; }
};

// A new storage in memory; readOnly: one whose streams cannot be written.
IStorage *MemoryStorage(bool readOnly = false)
{
    ILockBytes *bytes = nullptr;
    IStorage *storage = nullptr;
    EXPECT_HRESULT_SUCCEEDED(CreateILockBytesOnHGlobal(NULL, TRUE, &bytes));
    EXPECT_HRESULT_SUCCEEDED(
        StgCreateDocfileOnILockBytes(bytes, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &storage));
    if (readOnly) {
        storage->Commit(STGC_DEFAULT);
        storage->Release();
        storage = nullptr;
        EXPECT_HRESULT_SUCCEEDED(
            StgOpenStorageOnILockBytes(bytes, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, &storage));
    }
    bytes->Release();
    return storage;
}

void WriteStream(IStorage *storage, const std::vector<uint8_t> &bytes)
{
    IStream *stream = nullptr;
    ASSERT_HRESULT_SUCCEEDED(storage->CreateStream(COleServerObject::ContentsStream,
                                                   STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &stream));
    stream->Write(bytes.data(), ULONG(bytes.size()), nullptr);
    stream->Release();
}

class OleServerTest : public ::testing::Test {
protected:
    void SetUp() override { OleInitialize(NULL); }
    void TearDown() override { OleUninitialize(); }
};

TEST_F(OleServerTest, StorageKeepsTheDocumentAndRefusesWhatItCannotRead)
{
    FakeDocument first, second;
    COleServerObject *saving = new COleServerObject(kClsid, first);
    IStorage *storage = MemoryStorage();
    ASSERT_HRESULT_SUCCEEDED(saving->InitNew(storage));
    EXPECT_EQ(CO_E_ALREADYINITIALIZED, saving->InitNew(storage));
    EXPECT_EQ(S_OK, saving->IsDirty());
    ASSERT_HRESULT_SUCCEEDED(saving->Save(storage, TRUE));
    ASSERT_HRESULT_SUCCEEDED(saving->SaveCompleted(nullptr));
    EXPECT_EQ(S_FALSE, saving->IsDirty()) << "saved into its own storage";
    saving->Release();
    EXPECT_EQ(1, first.released);

    COleServerObject *loading = new COleServerObject(kClsid, second);
    ASSERT_HRESULT_SUCCEEDED(loading->Load(storage));
    EXPECT_EQ("plant", second.loadedText);
    EXPECT_EQ(1, second.loadedCalls);
    CLSID clsid;
    ASSERT_HRESULT_SUCCEEDED(loading->GetClassID(&clsid));
    EXPECT_TRUE(IsEqualCLSID(kClsid, clsid));
    loading->Release();

    // A stream cut short, a stream missing, a document that refuses.
    struct Case {
        const char *what;
        std::vector<uint8_t> bytes;
        bool writeStream, accept;
        HRESULT expected;
    } cases[] = {
        {"cut short", {1, 0, 9, 0, 0, 0, 'p'}, true, true, STG_E_READFAULT},
        {"no stream", {}, false, true, STG_E_FILENOTFOUND},
        {"refused", {1, 0, 1, 0, 0, 0, 'x'}, true, false, E_FAIL},
    };
    for (const Case &c : cases) {
        IStorage *other = MemoryStorage();
        if (c.writeStream)
            WriteStream(other, c.bytes);
        FakeDocument doc;
        doc.acceptLoad = c.accept;
        COleServerObject *object = new COleServerObject(kClsid, doc);
        EXPECT_EQ(c.expected, object->Load(other)) << c.what;
        EXPECT_EQ(c.accept ? 0 : 1, doc.loadedCalls) << c.what << ": shown only when read whole";
        object->Release();
        other->Release();
    }
    FakeDocument refusing;
    refusing.acceptNew = false;
    COleServerObject *refused = new COleServerObject(kClsid, refusing);
    EXPECT_EQ(E_FAIL, refused->InitNew(storage));
    refused->Release();
    storage->Release();
}

TEST_F(OleServerTest, PictureComesAsMetafilesOfTheItemsExtentOnly)
{
    FakeDocument doc;
    COleServerObject *object = new COleServerObject(kClsid, doc);
    SIZEL extent{};
    ASSERT_HRESULT_SUCCEEDED(object->GetExtent(DVASPECT_CONTENT, &extent));
    EXPECT_EQ(3000, extent.cx);
    EXPECT_EQ(2000, extent.cy);
    EXPECT_EQ(DV_E_DVASPECT, object->GetExtent(DVASPECT_ICON, &extent));

    struct Case {
        CLIPFORMAT format;
        DWORD aspect, tymed;
        HRESULT expected;
    } cases[] = {
        {CF_METAFILEPICT, DVASPECT_CONTENT, TYMED_MFPICT, S_OK},
        {CF_ENHMETAFILE, DVASPECT_CONTENT, TYMED_ENHMF, S_OK},
        {CF_METAFILEPICT, DVASPECT_CONTENT, TYMED_HGLOBAL, DV_E_FORMATETC},
        {CF_TEXT, DVASPECT_CONTENT, TYMED_HGLOBAL, DV_E_FORMATETC},
        {CF_METAFILEPICT, DVASPECT_ICON, TYMED_MFPICT, DV_E_DVASPECT},
    };
    for (const Case &c : cases) {
        FORMATETC format = {c.format, nullptr, c.aspect, -1, c.tymed};
        STGMEDIUM medium{};
        EXPECT_EQ(c.expected, object->QueryGetData(&format)) << c.format;
        HRESULT hr = object->GetData(&format, &medium);
        EXPECT_EQ(c.expected, hr) << c.format;
        if (FAILED(hr))
            continue;
        if (c.format == CF_METAFILEPICT) {
            METAFILEPICT *picture = static_cast<METAFILEPICT *>(GlobalLock(medium.hMetaFilePict));
            EXPECT_EQ(MM_ANISOTROPIC, picture->mm);
            EXPECT_EQ(3000, picture->xExt);
            EXPECT_EQ(2000, picture->yExt);
            GlobalUnlock(medium.hMetaFilePict);
        } else {
            ENHMETAHEADER header{};
            GetEnhMetaFileHeader(medium.hEnhMetaFile, sizeof header, &header);
            EXPECT_EQ(3000, header.rclFrame.right - header.rclFrame.left);
            EXPECT_EQ(2000, header.rclFrame.bottom - header.rclFrame.top);
        }
        ReleaseStgMedium(&medium);
    }
    EXPECT_EQ(2, doc.item.draws);
    object->Release();
}

// The container's frame in the same process: it lends its file and window
// popups and takes the shared menu.
class FakeFrame : public IOleInPlaceFrame {
public:
    HMENU file = CreatePopupMenu(), window = CreatePopupMenu();
    HMENU shownMenu = NULL;
    HWND activeWindow = NULL;
    bool removed = false;
    ~FakeFrame()
    {
        DestroyMenu(file);
        DestroyMenu(window);
    }
    STDMETHODIMP QueryInterface(REFIID, void **object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetWindow(HWND *) override { return E_NOTIMPL; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return S_OK; }
    STDMETHODIMP GetBorder(LPRECT) override { return E_NOTIMPL; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject *, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP InsertMenus(HMENU shared, LPOLEMENUGROUPWIDTHS widths) override
    {
        InsertMenuA(shared, 0, MF_BYPOSITION | MF_POPUP, UINT_PTR(file), "&File");
        InsertMenuA(shared, 1, MF_BYPOSITION | MF_POPUP, UINT_PTR(window), "&Window");
        widths->width[0] = 1;
        widths->width[2] = 0;
        widths->width[4] = 1;
        return S_OK;
    }
    STDMETHODIMP SetMenu(HMENU shared, HOLEMENU descriptor, HWND active) override
    {
        shownMenu = shared;
        activeWindow = active;
        EXPECT_TRUE(!shared || descriptor);
        return S_OK;
    }
    STDMETHODIMP RemoveMenus(HMENU shared) override
    {
        removed = true;
        for (int i = GetMenuItemCount(shared) - 1; i >= 0; --i)
            if (GetSubMenu(shared, i) == file || GetSubMenu(shared, i) == window)
                RemoveMenu(shared, UINT(i), MF_BYPOSITION);
        return S_OK;
    }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }
};

std::vector<std::string> MenuTexts(HMENU menu)
{
    std::vector<std::string> texts;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        char text[64] = "";
        GetMenuStringA(menu, UINT(i), text, sizeof text, MF_BYPOSITION);
        texts.push_back(text);
    }
    return texts;
}

TEST_F(OleServerTest, SharedMenuPutsTheObjectsGroupsBetweenTheContainers)
{
    struct Case {
        LONG container[6];
        int groups[3];
        std::vector<int> positions;
    } cases[] = {
        {{1, 0, 0, 0, 1, 0}, {1, 1, 1}, {1, 2, 4}},
        {{0, 0, 0, 0, 0, 0}, {1, 1, 1}, {0, 1, 2}},
        {{2, 0, 1, 0, 1, 0}, {2, 0, 1}, {2, 3, 6}},
    };
    for (const Case &c : cases) {
        OLEMENUGROUPWIDTHS widths{};
        for (int i = 0; i < 6; ++i)
            widths.width[i] = c.container[i];
        EXPECT_EQ(c.positions, CInPlaceFrameWnd::SharedPositions(widths, c.groups));
    }

    const int groups[3] = {1, 1, 1};
    CInPlaceFrameWnd frame(GetModuleHandleA(NULL), 4, groups);
    FakeFrame container;
    ASSERT_TRUE(frame.MergeMenus(&container));
    HMENU shared = frame.SharedMenu();
    EXPECT_EQ(shared, container.shownMenu);
    EXPECT_EQ((std::vector<std::string>{"&File", "&Edit", "&Object", "&Window", "&Help"}), MenuTexts(shared));
    const OLEMENUGROUPWIDTHS &merged = frame.Widths();
    EXPECT_EQ((std::vector<LONG>{1, 1, 0, 1, 1, 1}),
              std::vector<LONG>(merged.width, merged.width + 6));
    // The lent popups keep working for the command ids.
    EXPECT_EQ(302u, GetMenuItemID(GetSubMenu(shared, 2), 0));

    frame.UnmergeMenus(&container);
    EXPECT_TRUE(container.removed);
    EXPECT_EQ(NULL, container.shownMenu);
    EXPECT_EQ(NULL, frame.SharedMenu());
    EXPECT_FALSE(IsMenu(shared));
    EXPECT_TRUE(IsMenu(container.file)) << "the container's own popups stay the container's";
    // A second activation merges the same popups again.
    ASSERT_TRUE(frame.MergeMenus(&container));
    EXPECT_EQ(5, GetMenuItemCount(frame.SharedMenu()));
    frame.UnmergeMenus(&container);
}

TEST_F(OleServerTest, TemplateStringSplitsIntoItsSevenFields)
{
    std::vector<std::string> fields =
        CTemplateServer::TemplateFields("Tolvane\n\nUserIn\n\n\nUserInterface.Document\nUserIn Document");
    EXPECT_EQ((std::vector<std::string>{"Tolvane", "", "UserIn", "", "", "UserInterface.Document", "UserIn Document"}),
              fields);
    EXPECT_EQ(1u, CTemplateServer::TemplateFields("").size());
}

void CALLBACK QuitWithSeven(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(NULL, timer);
    PostQuitMessage(7);
}

// The thread's message loop until it is told to quit, at the latest after
// ms (code 7); the quit code.
int LoopAtMost(DWORD ms)
{
    UINT_PTR latest = SetTimer(NULL, 0, ms, QuitWithSeven);
    MSG msg{};
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    KillTimer(NULL, latest);
    return int(msg.wParam);
}

// A start by COM whose object never comes ends its loop; one that made its
// object keeps it running.
TEST_F(OleServerTest, TemplateServerQuitsWhenNoObjectCameInTime)
{
    struct Case {
        const char *what;
        bool create;
        DWORD latestMs;
        int quitCode;
    } cases[] = {
        {"no object", false, 20000, 0},
        {"object made", true, 1500, 7},
    };
    for (const Case &c : cases) {
        FakeDocument doc;
        CTemplateServer::Registration reg;
        reg.clsid = kClsid;
        CTemplateServer server(reg, [&] { return new COleServerObject(kClsid, doc); });
        if (c.create) {
            IOleObject *object = nullptr;
            ASSERT_HRESULT_SUCCEEDED(server.CreateInstance(nullptr, IID_IOleObject, reinterpret_cast<void **>(&object)))
                << c.what;
            object->Release();
        }
        EXPECT_EQ(c.create, server.Created()) << c.what;
        server.QuitIfUnused(50);
        EXPECT_EQ(c.quitCode, LoopAtMost(c.latestMs)) << c.what;
    }
}

// The container's site in the same process: it saves the object into its
// storage as containers do (Save, then SaveCompleted) and lends a window,
// the frame above and a place for the object to be active in.
class FakeSite : public IOleClientSite, public IOleInPlaceSite {
public:
    COleServerObject *object = nullptr;
    IStorage *storage = nullptr;
    HRESULT saveResult = S_OK;  // what SaveObject answers
    HWND parent = NULL;
    FakeFrame frame;
    std::function<void()> onUIDeactivate;
    std::vector<std::string> calls;
    int Count(const std::string &call) const { return int(std::count(calls.begin(), calls.end(), call)); }

    STDMETHODIMP QueryInterface(REFIID riid, void **out) override
    {
        *out = nullptr;
        if (riid == IID_IUnknown || riid == IID_IOleClientSite)
            *out = static_cast<IOleClientSite *>(this);
        else if (riid == IID_IOleInPlaceSite || riid == IID_IOleWindow)
            *out = static_cast<IOleInPlaceSite *>(this);
        else
            return E_NOINTERFACE;
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    // IOleClientSite
    STDMETHODIMP SaveObject() override
    {
        calls.push_back("SaveObject");
        if (FAILED(saveResult))
            return saveResult;
        HRESULT hr = object->Save(storage, TRUE);
        object->SaveCompleted(nullptr);
        return hr;
    }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker **moniker) override
    {
        *moniker = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer **container) override
    {
        *container = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
    // IOleInPlaceSite
    STDMETHODIMP GetWindow(HWND *window) override
    {
        *window = parent;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return S_OK; }
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override
    {
        calls.push_back("OnInPlaceActivate");
        return S_OK;
    }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame **outFrame, IOleInPlaceUIWindow **doc, LPRECT position,
                                  LPRECT clip, LPOLEINPLACEFRAMEINFO) override
    {
        *outFrame = &frame;
        *doc = nullptr;
        *position = RECT{10, 10, 110, 90};
        *clip = RECT{0, 0, 400, 300};
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return S_OK; }
    STDMETHODIMP OnUIDeactivate(BOOL) override
    {
        calls.push_back("OnUIDeactivate");
        if (onUIDeactivate)
            onUIDeactivate();
        return S_OK;
    }
    STDMETHODIMP OnInPlaceDeactivate() override
    {
        calls.push_back("OnInPlaceDeactivate");
        return S_OK;
    }
    STDMETHODIMP DiscardUndoState() override { return S_OK; }
    STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }
};

// The document counts as saved once the container has the data: after a
// save into the object's own storage that the container completed, or
// after one into the storage it takes from now on; not after a copy saved
// elsewhere, a save never completed, or one that failed.
TEST_F(OleServerTest, DocumentIsSavedOnlyWhenTheContainerCompletedASave)
{
    enum Into { Own, Other, ReadOnly };
    enum Completed { NotCompleted, WithNone, WithTarget };
    struct Case {
        const char *what;
        Into into;
        BOOL sameAsLoad;
        Completed completed;
        bool saves;
        HRESULT dirty;
    } cases[] = {
        {"own storage", Own, TRUE, WithNone, true, S_FALSE},
        {"own storage, never completed", Own, TRUE, NotCompleted, true, S_OK},
        {"a copy elsewhere", Other, FALSE, WithNone, true, S_OK},
        {"saved as", Other, FALSE, WithTarget, true, S_FALSE},
        {"failed", ReadOnly, TRUE, WithNone, false, S_OK},
    };
    for (const Case &c : cases) {
        FakeDocument doc;
        COleServerObject *object = new COleServerObject(kClsid, doc);
        IStorage *own = MemoryStorage(), *target = c.into == Own ? own : MemoryStorage(c.into == ReadOnly);
        ASSERT_HRESULT_SUCCEEDED(object->InitNew(own)) << c.what;
        EXPECT_EQ(c.saves, SUCCEEDED(object->Save(target, c.sameAsLoad))) << c.what;
        if (c.completed != NotCompleted)
            EXPECT_HRESULT_SUCCEEDED(object->SaveCompleted(c.completed == WithTarget ? target : nullptr)) << c.what;
        EXPECT_EQ(c.dirty, object->IsDirty()) << c.what;
        object->Release();
        if (target != own)
            target->Release();
        own->Release();
    }
}

// A save the container failed is no success: the user's Update and close
// and the container's own close with saving report it, and the object
// stays open with its changes.
TEST_F(OleServerTest, FailedSaveIntoTheContainerIsReportedAndKeepsTheObjectOpen)
{
    struct Case {
        const char *what;
        std::function<HRESULT(COleServerObject *)> act;
    } cases[] = {
        {"Update", [](COleServerObject *o) { return o->SaveToContainer(); }},
        {"the user's close", [](COleServerObject *o) { return o->CloseFromUser(); }},
        {"the container's close", [](COleServerObject *o) { return o->Close(OLECLOSE_SAVEIFDIRTY); }},
    };
    for (const Case &c : cases) {
        FakeDocument doc;
        FakeSite site;
        COleServerObject *object = new COleServerObject(kClsid, doc);
        IStorage *storage = MemoryStorage();
        ASSERT_HRESULT_SUCCEEDED(object->InitNew(storage)) << c.what;
        site.object = object;
        site.storage = storage;
        site.saveResult = STG_E_MEDIUMFULL;
        object->SetClientSite(&site);
        EXPECT_EQ(STG_E_MEDIUMFULL, c.act(object)) << c.what;
        EXPECT_EQ(S_OK, object->IsDirty()) << c.what;
        IOleClientSite *held = nullptr;
        object->GetClientSite(&held);
        EXPECT_EQ(&site, held) << c.what << ": still open in its container";
        // Saved after all, the object closes.
        site.saveResult = S_OK;
        EXPECT_HRESULT_SUCCEEDED(c.act(object)) << c.what;
        EXPECT_EQ(S_FALSE, object->IsDirty()) << c.what;
        object->Release();
        EXPECT_EQ(1, doc.released) << c.what;
        storage->Release();
    }
}

// The container lets the object go while the document's question is up:
// the object lives until its close is done.
TEST_F(OleServerTest, ObjectOutlivesAReleaseDuringTheCloseQuestion)
{
    FakeDocument doc;
    FakeSite site;
    COleServerObject *object = new COleServerObject(kClsid, doc);
    IStorage *storage = MemoryStorage();
    ASSERT_HRESULT_SUCCEEDED(object->InitNew(storage));
    site.object = object;
    site.storage = storage;
    object->SetClientSite(&site);
    doc.onQueryClose = [&] { object->Release(); };
    EXPECT_HRESULT_SUCCEEDED(object->CloseFromUser());
    EXPECT_EQ(0, doc.releasedWhenAsked) << "the object was gone before it asked whether it changed";
    EXPECT_EQ(1, site.Count("SaveObject"));
    EXPECT_EQ(1, doc.released);
    storage->Release();
}

// The object active in its container's window: let go without being
// deactivated, it takes its frame away first; a container that deactivates
// again from inside the deactivation deactivates once.
TEST_F(OleServerTest, InPlaceObjectDeactivatesOnceAndBeforeItGoes)
{
    HWND parent = CreateWindowExA(0, "STATIC", "", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, NULL, NULL,
                                  GetModuleHandleA(NULL), NULL);
    ASSERT_TRUE(parent != NULL);
    const int groups[3] = {1, 1, 1};
    struct Case {
        const char *what;
        bool reenter;
    } cases[] = {{"released while active", false}, {"deactivated again from inside", true}};
    for (const Case &c : cases) {
        FakeDocument doc;
        CInPlaceFrameWnd frame(GetModuleHandleA(NULL), 4, groups);
        doc.inPlaceFrame = &frame;
        FakeSite site;
        site.parent = parent;
        COleServerObject *object = new COleServerObject(kClsid, doc);
        object->SetClientSite(&site);
        ASSERT_HRESULT_SUCCEEDED(object->DoVerb(OLEIVERB_UIACTIVATE, nullptr, &site, 0, parent, nullptr)) << c.what;
        HWND window = frame.Window();
        ASSERT_TRUE(IsWindow(window)) << c.what;
        if (c.reenter) {
            site.onUIDeactivate = [&] { object->InPlaceDeactivate(); };
            EXPECT_HRESULT_SUCCEEDED(object->InPlaceDeactivate()) << c.what;
        }
        object->Release();
        EXPECT_FALSE(IsWindow(window)) << c.what;
        EXPECT_EQ(1, doc.inPlaceDeactivated) << c.what;
        EXPECT_EQ(1, site.Count("OnInPlaceDeactivate")) << c.what;
        EXPECT_EQ(NULL, site.frame.shownMenu) << c.what << ": the shared menu went back";
        EXPECT_EQ(1, doc.released) << c.what;
    }
    DestroyWindow(parent);
}

// The container's clip rectangle shapes the window; one that leaves
// nothing of the object leaves nothing of the window on screen.
TEST_F(OleServerTest, InPlaceFrameShowsWhatTheClipLeaves)
{
    HWND parent = CreateWindowExA(0, "STATIC", "", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, NULL, NULL,
                                  GetModuleHandleA(NULL), NULL);
    ASSERT_TRUE(parent != NULL);
    const int groups[3] = {1, 1, 1};
    CInPlaceFrameWnd frame(GetModuleHandleA(NULL), 4, groups);
    const RECT position = {20, 20, 120, 100};
    ASSERT_TRUE(frame.CreateInPlace(parent, position, RECT{0, 0, 400, 300}));
    const int b = CInPlaceFrameWnd::BorderWidth;
    struct Case {
        const char *what;
        RECT clip;
        int kind;
        RECT box;  // in the window's own coordinates
    } cases[] = {
        {"all of it", {0, 0, 400, 300}, SIMPLEREGION, {0, 0, 100 + 2 * b, 80 + 2 * b}},
        {"its left half", {0, 0, 70, 300}, SIMPLEREGION, {0, 0, 70 - 20 + b, 80 + 2 * b}},
        {"nothing", {200, 200, 300, 300}, NULLREGION, {0, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        frame.SetObjectRects(position, c.clip);
        HRGN region = CreateRectRgn(0, 0, 0, 0);
        int kind = GetWindowRgn(frame.Window(), region);
        RECT box{};
        GetRgnBox(region, &box);
        DeleteObject(region);
        EXPECT_EQ(c.kind, kind) << c.what;
        if (kind == SIMPLEREGION)
            EXPECT_TRUE(EqualRect(&c.box, &box)) << c.what << ": " << box.left << "," << box.top << "," << box.right
                                                 << "," << box.bottom;
    }
    frame.DestroyInPlace();
    DestroyWindow(parent);
}

} // namespace
