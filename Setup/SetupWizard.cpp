#include "SetupWizard.h"
#include <commctrl.h>
#include <prsht.h>
#include <shlobj.h>
#include <shellapi.h>
#include <memory>
#include <vector>
#include "Dialog.h"
#include "SetupReporter.h"
#include "resource.h"

namespace {

const size_t kNotesBytes = 10000;
const size_t kLicenseBytes = 24998;
const UINT_PTR kTimerId = 1;

std::string WindowText(HWND window)
{
    int length = GetWindowTextLengthA(window);
    std::string text(size_t(length) + 1, '\0');
    GetWindowTextA(window, &text[0], length + 1);
    text.resize(size_t(length));
    return text;
}

// What every page of one wizard run shares.
struct CWizardRun {
    HINSTANCE instance;
    CWizardAsker *asker;
    CWizardChoices *choices;
    bool finished = false;
    bool stopped = false;
};

struct CPage {
    UINT id;
    CWizardRun *run;
    bool first;
};

void SetResult(HWND page, LONG_PTR result) { SetWindowLongPtrA(page, DWLP_MSGRESULT, result); }

void OnSetActive(HWND page, const CPage &info)
{
    DWORD buttons = PSWIZB_NEXT;
    switch (info.id) {
    case IDD_RELEASE_NOTES:
        buttons = PSWIZB_NEXT;
        break;
    case IDD_LICENSE:
        buttons = info.run->choices->releaseNotes ? PSWIZB_BACK | PSWIZB_NEXT : PSWIZB_NEXT;
        break;
    case IDD_PROGRAM_FOLDER:
        buttons = PSWIZB_BACK | PSWIZB_FINISH;
        break;
    default:
        buttons = PSWIZB_BACK | PSWIZB_NEXT;
        break;
    }
    PropSheet_SetWizButtons(GetParent(page), buttons);
}

void InitPage(HWND page, const CPage &info)
{
    CWizardChoices &choices = *info.run->choices;
    switch (info.id) {
    case IDD_RELEASE_NOTES:
        SetDlgItemTextA(page, IDC_NOTES, ReadTextFile("QORREL.TXT", kNotesBytes).c_str());
        break;
    case IDD_LICENSE:
        SetDlgItemTextA(page, IDC_LICENSE_TEXT, ReadTextFile("License", kLicenseBytes).c_str());
        break;
    case IDD_DESTINATION:
        SetDlgItemTextA(page, IDC_DESTINATION, choices.installFolder.c_str());
        break;
    case IDD_NODE_NAME:
        SetDlgItemTextA(page, IDC_NODE_NAME, choices.nodeName.c_str());
        break;
    case IDD_PROGRAM_FOLDER:
        SetDlgItemTextA(page, IDC_PROGRAM_FOLDER, choices.programFolder.c_str());
        break;
    }
}

// Next on a page: true when the wizard may move on.
bool OnNext(HWND page, const CPage &info)
{
    CWizardRun &run = *info.run;
    CWizardChoices &choices = *run.choices;
    switch (info.id) {
    case IDD_LICENSE:
        if (!PassPreviousInstallation(*run.asker, RunAndAwait)) {
            run.stopped = true;
            PropSheet_PressButton(GetParent(page), PSBTN_CANCEL);
            return false;
        }
        return true;
    case IDD_DESTINATION: {
        std::string path;
        if (!CheckDestination(WindowText(GetDlgItem(page, IDC_DESTINATION)), *run.asker, path))
            return false;
        choices.installFolder = path;
        SetDlgItemTextA(page, IDC_DESTINATION, path.c_str());
        return true;
    }
    case IDD_NODE_TYPE:
        choices.nodeType = IsDlgButtonChecked(page, IDC_SERVER) == BST_CHECKED   ? NodeType::Server
                           : IsDlgButtonChecked(page, IDC_CLIENT) == BST_CHECKED ? NodeType::Client
                                                                                 : NodeType::None;
        return true;
    case IDD_NODE_NAME:
        choices.nodeName = Trim(WindowText(GetDlgItem(page, IDC_NODE_NAME)));
        return true;
    default:
        return true;
    }
}

void BrowseProgramFolder(HWND page)
{
    LPITEMIDLIST root = NULL;
    SHGetSpecialFolderLocation(page, CSIDL_COMMON_PROGRAMS, &root);
    BROWSEINFOA browse = {};
    browse.hwndOwner = page;
    browse.pidlRoot = root;
    browse.lpszTitle = "Select Location for Shortcut";
    browse.ulFlags = BIF_RETURNONLYFSDIRS;
    LPITEMIDLIST chosen = SHBrowseForFolderA(&browse);
    if (chosen) {
        char path[MAX_PATH] = "";
        if (SHGetPathFromIDListA(chosen, path)) {
            std::string folder = path;
            size_t slash = folder.find_last_of('\\');
            SetDlgItemTextA(page, IDC_PROGRAM_FOLDER,
                            (slash == std::string::npos ? folder : folder.substr(slash + 1)).c_str());
        }
        CoTaskMemFree(chosen);
    }
    if (root)
        CoTaskMemFree(root);
}

INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        const PROPSHEETPAGEA *sheetPage = reinterpret_cast<const PROPSHEETPAGEA *>(lParam);
        CPage *info = reinterpret_cast<CPage *>(sheetPage->lParam);
        SetWindowLongPtrA(page, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(info));
        info->run->asker->SetSheet(GetParent(page));
        InitPage(page, *info);
        return TRUE;
    }
    CPage *info = reinterpret_cast<CPage *>(GetWindowLongPtrA(page, GWLP_USERDATA));
    if (!info)
        return FALSE;
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == IDC_BROWSE) {
            std::string path = WindowText(GetDlgItem(page, IDC_DESTINATION));
            if (BrowseForDirectory(info->run->instance, page, path))
                SetDlgItemTextA(page, IDC_DESTINATION, path.c_str());
            return TRUE;
        }
        if (LOWORD(wParam) == IDC_FOLDER_BROWSE) {
            BrowseProgramFolder(page);
            return TRUE;
        }
    }
    if (message != WM_NOTIFY)
        return FALSE;
    NMHDR *header = reinterpret_cast<NMHDR *>(lParam);
    switch (header->code) {
    case PSN_SETACTIVE:
        OnSetActive(page, *info);
        SetResult(page, 0);
        return TRUE;
    case PSN_WIZNEXT:
        SetResult(page, OnNext(page, *info) ? 0 : -1);
        return TRUE;
    case PSN_WIZFINISH: {
        std::string name = Trim(WindowText(GetDlgItem(page, IDC_PROGRAM_FOLDER)));
        if (name.empty()) {
            SetResult(page, TRUE); // stays on the page
            return TRUE;
        }
        info->run->choices->programFolder = name;
        info->run->finished = true;
        SetResult(page, FALSE);
        return TRUE;
    }
    }
    return FALSE;
}

// Dialog 141: the drive tree.
class CDirectoryDialog : public CDialog {
public:
    CDirectoryDialog(HINSTANCE instance) : CDialog(instance, IDD_BROWSE_DIRECTORY) {}
    ~CDirectoryDialog() override
    {
        if (m_images)
            ImageList_Destroy(m_images);
    }
    std::string path;

protected:
    BOOL OnInitDialog() override
    {
        HWND tree = Item(IDC_DIRECTORY_TREE);
        m_images = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 3, 0);
        HMODULE shell = GetModuleHandleA("shell32.dll");
        // Shell icons: a fixed drive, another drive, a folder.
        for (int index : {8, 7, 3}) {
            HICON icon = NULL;
            ExtractIconExA("shell32.dll", index, NULL, &icon, 1);
            ImageList_AddIcon(m_images, icon ? icon : LoadIcon(NULL, IDI_APPLICATION));
            if (icon)
                DestroyIcon(icon);
        }
        (void)shell;
        TreeView_SetImageList(tree, m_images, TVSIL_NORMAL);
        char drives[512] = "";
        GetLogicalDriveStringsA(sizeof drives, drives);
        for (const char *drive = drives; *drive; drive += strlen(drive) + 1) {
            std::string name(drive);
            if (!name.empty() && name.back() == '\\')
                name.pop_back();
            int image = GetDriveTypeA(drive) == DRIVE_FIXED ? 0 : 1;
            Insert(tree, TVI_ROOT, name, image);
        }
        return TRUE;
    }

    bool OnNotify(NMHDR *header, LRESULT *result) override
    {
        if (header->idFrom != IDC_DIRECTORY_TREE || header->code != TVN_ITEMEXPANDINGA)
            return false;
        NMTREEVIEWA *view = reinterpret_cast<NMTREEVIEWA *>(header);
        if (view->action == TVE_EXPAND && view->itemNew.lParam == 0) {
            HWND tree = header->hwndFrom;
            HTREEITEM item = view->itemNew.hItem;
            TVITEMA mark = {};
            mark.mask = TVIF_PARAM;
            mark.hItem = item;
            mark.lParam = 1; // listed
            TreeView_SetItem(tree, &mark);
            WIN32_FIND_DATAA found;
            HANDLE find = FindFirstFileA((PathOf(tree, item) + "\\*.*").c_str(), &found);
            if (find != INVALID_HANDLE_VALUE) {
                do {
                    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !strcmp(found.cFileName, ".") ||
                        !strcmp(found.cFileName, ".."))
                        continue;
                    Insert(tree, item, found.cFileName, 2);
                } while (FindNextFileA(find, &found));
                FindClose(find);
            }
        }
        *result = FALSE;
        return true;
    }

    void OnOK() override
    {
        HWND tree = Item(IDC_DIRECTORY_TREE);
        HTREEITEM selected = TreeView_GetSelection(tree);
        if (selected) {
            path = PathOf(tree, selected);
            if (path.size() == 2)
                path += '\\';
        }
        CDialog::OnOK();
    }

private:
    static void Insert(HWND tree, HTREEITEM parent, const std::string &text, int image)
    {
        TVINSERTSTRUCTA insert = {};
        insert.hParent = parent;
        insert.hInsertAfter = TVI_SORT;
        insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_CHILDREN | TVIF_PARAM;
        insert.item.pszText = const_cast<char *>(text.c_str());
        insert.item.iImage = insert.item.iSelectedImage = image;
        insert.item.cChildren = 1;
        insert.item.lParam = 0;
        SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert));
    }

    static std::string PathOf(HWND tree, HTREEITEM item)
    {
        std::string path;
        for (; item; item = TreeView_GetParent(tree, item)) {
            char text[MAX_PATH] = "";
            TVITEMA data = {};
            data.mask = TVIF_TEXT;
            data.hItem = item;
            data.pszText = text;
            data.cchTextMax = MAX_PATH;
            SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&data));
            path = path.empty() ? std::string(text) : std::string(text) + "\\" + path;
        }
        return path;
    }

    HIMAGELIST m_images = NULL;
};

// Dialog 139.
class CMainDialog : public CDialog {
public:
    CMainDialog(HINSTANCE instance, const std::string &programFolder)
        : CDialog(instance, IDD_MAIN), m_programFolder(programFolder)
    {
    }

protected:
    bool OnCommand(int id, int code, HWND control) override
    {
        if (id != IDC_NEXT)
            return CDialog::OnCommand(id, code, control);
        if (m_done) {
            EndDialog(IDOK);
            return true;
        }
        ShowWindow(Item(IDC_WELCOME), SW_HIDE);
        ShowWindow(Item(IDC_STATUS), SW_SHOW);
        m_worker.reset(new CMainThread(m_instance, Window(), m_programFolder));
        if (!m_worker->Start())
            m_worker.reset();
        EnableItem(IDC_NEXT, false);
        SetTimer(Window(), kTimerId, 1000, NULL);
        return true;
    }

    bool OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR *result) override
    {
        if (message != WM_TIMER || wParam != kTimerId)
            return false;
        DWORD outcome = m_worker ? WorkerOutcome(m_worker->ExitCode()) : kSetupCancelled;
        if (outcome) {
            m_worker.reset();
            EnableItem(IDCANCEL, false);
            SetItemText(IDC_NEXT, "Done");
            EnableItem(IDC_NEXT, true);
            SendMessageA(Window(), DM_SETDEFID, IDC_NEXT, 0);
            SetFocus(Item(IDC_NEXT));
            SetItemText(IDC_STATUS, outcome == kSetupInstalled ? "Installation Successful" : "Installation Canceled");
            KillTimer(Window(), kTimerId);
            m_done = true;
        }
        *result = 0;
        return true;
    }

private:
    std::string m_programFolder;
    std::unique_ptr<CMainThread> m_worker;
    bool m_done = false;
};

} // namespace

int CWizardAsker::Ask(const std::string &text, const std::string &title, UINT style)
{
    return DefaultReporter().Show(m_sheet && IsWindow(m_sheet) ? m_sheet : m_owner, text, title, style);
}

bool CWizardAsker::RunWizard(CWizardChoices &choices)
{
    CWizardRun run{m_instance, this, &choices};
    std::vector<UINT> ids;
    if (choices.releaseNotes)
        ids.push_back(IDD_RELEASE_NOTES);
    ids.insert(ids.end(), {IDD_LICENSE, IDD_DESTINATION, IDD_NODE_TYPE});
    if (choices.nodeNamePage)
        ids.push_back(IDD_NODE_NAME);
    ids.push_back(IDD_PROGRAM_FOLDER);
    std::vector<CPage> infos;
    infos.reserve(ids.size());
    std::vector<PROPSHEETPAGEA> pages;
    for (UINT id : ids) {
        infos.push_back(CPage{id, &run, pages.empty()});
        PROPSHEETPAGEA page = {};
        page.dwSize = sizeof page;
        page.dwFlags = PSP_DEFAULT;
        page.hInstance = m_instance;
        page.pszTemplate = MAKEINTRESOURCEA(id);
        page.pfnDlgProc = PageProc;
        page.lParam = reinterpret_cast<LPARAM>(&infos.back());
        pages.push_back(page);
    }
    PROPSHEETHEADERA header = {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_WIZARD | PSH_PROPSHEETPAGE;
    header.hwndParent = m_owner;
    header.hInstance = m_instance;
    header.pszCaption = "QOR Server Setup Wizard";
    header.nPages = UINT(pages.size());
    header.ppsp = pages.data();
    PropertySheetA(&header);
    m_sheet = NULL;
    return run.finished && !run.stopped;
}

bool BrowseForDirectory(HINSTANCE instance, HWND owner, std::string &path)
{
    CDirectoryDialog dialog(instance);
    if (dialog.DoModal(owner) != IDOK || dialog.path.empty())
        return false;
    path = dialog.path;
    return true;
}

CMainThread::CMainThread(HINSTANCE instance, HWND owner, const std::string &programFolder)
    : m_instance(instance), m_owner(owner), m_programFolder(programFolder)
{
}

CMainThread::~CMainThread()
{
    if (m_thread)
        CloseHandle(m_thread);
}

bool CMainThread::Start()
{
    m_thread = CreateThread(NULL, 0, ThreadProc, this, CREATE_SUSPENDED, NULL);
    if (!m_thread)
        return false;
    ResumeThread(m_thread);
    return true;
}

DWORD CMainThread::ExitCode() const
{
    DWORD code = kSetupCancelled;
    if (m_thread && !GetExitCodeThread(m_thread, &code))
        code = kSetupCancelled;
    return code;
}

DWORD WINAPI CMainThread::ThreadProc(void *self)
{
    CMainThread *thread = static_cast<CMainThread *>(self);
    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    CWizardAsker asker(thread->m_instance, thread->m_owner);
    DWORD code = RunSetupWorker(asker, thread->m_programFolder);
    CoUninitialize();
    return code;
}

void RunMainDialog(HINSTANCE instance, const std::string &programFolder)
{
    CMainDialog dialog(instance, programFolder);
    dialog.DoModal(NULL);
}
