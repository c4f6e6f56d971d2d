#include "ServerDoc.h"
#include <commdlg.h>
#include <algorithm>
#include <cctype>
#include <vector>
#include "Archive.h"
#include "ConfigFile.h"
#include "ConfigObject.h"
#include "Driver.h"
#include "ServerMsg.h"
#ifdef QOR_HAVE_CSV
#include "CsvFile.h"
#endif

namespace {

std::string Upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return text;
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

std::string FileNamePart(const std::string &path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

class CBoxQuestions : public IDocQuestions {
public:
    int Ask(HWND owner, const char *text, UINT buttons) override
    {
        return MessageBoxA(owner, text, "Hadrel", buttons);
    }
};
CBoxQuestions g_boxQuestions;

// Reads a whole file while others may only read it; 0 or the Win32 error.
DWORD ReadWholeFile(const std::string &path, std::vector<uint8_t> &bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    DWORD error = 0;
    LARGE_INTEGER size;
    // A configuration is far below this; anything larger is not one.
    const LONGLONG kLargest = 256LL << 20;
    if (!GetFileSizeEx(file, &size))
        error = GetLastError();
    else if (size.QuadPart > kLargest)
        error = ERROR_FILE_TOO_LARGE;
    else {
        bytes.resize(size_t(size.QuadPart));
        DWORD done = 0;
        if (!bytes.empty() && (!ReadFile(file, bytes.data(), DWORD(bytes.size()), &done, NULL) || done != bytes.size()))
            error = GetLastError() ? GetLastError() : ERROR_HANDLE_EOF;
    }
    CloseHandle(file);
    return error;
}

// Windows refuses to replace a read-only file, but Wine running as root
// does not: the save checks for itself.
bool IsReadOnlyFile(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
           !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

#ifdef QOR_HAVE_CSV
// The document as the CSV files see it.
class CServerDoc::CCsvBridge : public ICsvHost {
public:
    explicit CCsvBridge(CServerDoc &doc) : m_doc(doc) {}
    std::string Acronym() override { return m_doc.m_acronym; }
    void SetImporting(bool on) override
    {
        m_doc.m_importing = on;
        SetConfigImporting(on);
    }
    void SetModified() override { m_doc.SetModified(true); }
    HRESULT BeginImportTree() override
    {
        m_setAside.reset();
        return m_doc.m_host->ReplaceConfiguration(nullptr, &m_setAside);
    }
    void EndImportTree(bool succeeded) override
    {
        if (!succeeded && m_setAside)
            m_doc.m_host->ReplaceConfiguration(std::move(m_setAside), nullptr);
        m_setAside.reset();
    }
    void ReportFileFailure(const char *prompt, DWORD error, const std::string &path) override
    {
        std::string text = error ? FileFailureText(error, path, false) : std::string(prompt ? prompt : "");
        m_doc.ReportFailure(text + "  " + path);
    }
    int LogRowCount() override { return m_doc.m_logRows ? m_doc.m_logRows->LogRowCount() : 0; }
    bool GetLogRow(int index, CsvLogRow &row) override
    {
        return m_doc.m_logRows && m_doc.m_logRows->GetLogRow(index, row.image, row.message, row.date, row.time);
    }

private:
    CServerDoc &m_doc;
    std::unique_ptr<CDriver> m_setAside;
};
#else
class CServerDoc::CCsvBridge {};
#endif

CServerDoc::CServerDoc(IServerDocHost *host, const std::string &acronym)
    : m_host(host), m_acronym(acronym), m_questions(&g_boxQuestions)
{
#ifdef QOR_HAVE_CSV
    m_csv.reset(new CCsvBridge(*this));
#endif
}

CServerDoc::~CServerDoc() = default;

void CServerDoc::SetQuestions(IDocQuestions *questions) { m_questions = questions ? questions : &g_boxQuestions; }

void CServerDoc::SetTitleListener(void (*listener)(void *), void *context)
{
    m_titleListener = listener;
    m_titleContext = context;
}

void CServerDoc::TitleChanged()
{
    if (m_titleListener)
        m_titleListener(m_titleContext);
}

std::string CServerDoc::DefaultTitle() const { return "Untitled." + Lower(m_acronym); }

void CServerDoc::SetModified(bool modified)
{
    if (m_modified == modified)
        return;
    m_modified = modified;
    TitleChanged();
}

std::string CServerDoc::Extension(const std::string &path)
{
    std::string name = FileNamePart(path);
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : Upper(name.substr(dot + 1));
}

std::string CServerDoc::FileFailureText(DWORD error, const std::string &path, bool reading)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
        return "Cannot find this file.";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return (reading ? "Unable to read from " : "Unable to write to ") + path;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return "Destination disk drive is full.";
    default:
        return reading ? "Failed to open document." : "Failed to save document.";
    }
}

void CServerDoc::SetPathName(const std::string &path)
{
    m_pathName = path;
    m_title = FileNamePart(path);
    if (m_host) {
        m_host->SetFullConfigFileName(path);
        m_host->SetConfigFileTitle(m_title);
    }
    TitleChanged();
}

void CServerDoc::ReportFailure(const std::string &text) { LogMessage(SeverityError, "%s", text.c_str()); }

HRESULT CServerDoc::Fail(LONG code)
{
    m_status = code;
    return code;
}

bool CServerDoc::New()
{
    if (!m_host || FAILED(m_host->ReplaceConfiguration(nullptr, nullptr)) || !m_host->Configuration()) {
        m_status = E_FAIL;
        return false;
    }
    m_status = 0;
    m_modified = false;
    SetPathName(m_host->ConfigFolder() + DefaultTitle());
    LogMessage(SeverityInfo, "New configuration created");
    return true;
}

HRESULT CServerDoc::Open(const std::string &path, bool allowOldCsv, bool *importedOld)
{
    if (importedOld)
        *importedOld = false;
    std::string extension = Extension(path);
    if (extension.empty())
        return Fail(DOC_E_EXTENSION);
    if (extension == Upper(m_acronym))
        return OpenArchive(path);
    if (extension == "CSV")
        return OpenCsv(path, allowOldCsv, importedOld);
    LogMessage(SeverityError, "Invalid file extension:  %s", "File Open");
    return Fail(DOC_E_EXTENSION);
}

HRESULT CServerDoc::OpenArchive(const std::string &path)
{
    std::vector<uint8_t> bytes;
    if (DWORD error = ReadWholeFile(path, bytes)) {
        ReportFailure(FileFailureText(error, path, true) + "  " + path);
        return Fail(DOC_E_OPEN);
    }
    // The tree is read into a new driver and takes the place of the present
    // one only once the whole file was read: a damaged file costs nothing.
    // Every saved file holds at least the driver, so an empty one was cut
    // short like any other.
    CArchive archive(bytes.data(), bytes.size());
    ConfigLoadResult result = LoadConfiguration(archive);
    if (!result.Succeeded()) {
        ReportFailure(std::string(result.formatFault ? "Unexpected file format." : "Failed to open document.") +
                      "  " + path);
        ReportFailure(result.error);
        return Fail(DOC_E_ARCHIVE);
    }
    for (const std::string &line : result.skipped)
        LogMessage(SeverityWarning, "%s", line.c_str());
    if (!m_host || FAILED(m_host->ReplaceConfiguration(std::move(result.driver), nullptr))) {
        ReportFailure("Failed to open document.  " + path);
        return Fail(DOC_E_ARCHIVE);
    }
    m_status = 0;
    m_modified = false;
    LogMessage(SeverityInfo, "Configuration file %s loaded", path.c_str());
    SetPathName(path);
    return S_OK;
}

HRESULT CServerDoc::OpenCsv(const std::string &path, bool allowOld, bool *importedOld)
{
#ifdef QOR_HAVE_CSV
    IQORDriver *app = m_host ? m_host->Automation() : nullptr;
    if (!app) {
        LogMessage(SeverityError, "CSV import needs the automation object:  %s", path.c_str());
        return Fail(DOC_E_CSV_IMPORT);
    }
    HRESULT hr = CsvOpen(app, *m_csv, path, allowOld, importedOld);
    m_importing = false;
    SetConfigImporting(false);
    if (hr != S_OK)
        return Fail(FAILED(hr) || hr == DOC_W_OLD_CSV ? hr : DOC_E_CSV_IMPORT);
    m_status = 0;
    return S_OK;
#else
    LogMessage(SeverityError, "CSV import is not available in this build:  %s", path.c_str());
    return Fail(DOC_E_CSV_IMPORT);
#endif
}

HRESULT CServerDoc::Save(const std::string &path)
{
    std::string extension = Extension(path);
    HRESULT hr;
    if (extension.empty())
        return Fail(DOC_E_EXTENSION);
    const bool archive = extension == Upper(m_acronym), report = extension == "LOG";
    if ((archive || extension == "CSV" || report) && IsReadOnlyFile(path)) {
        ReportFailure(FileFailureText(ERROR_ACCESS_DENIED, path, false) + "  " + path);
        return Fail(archive ? DOC_E_ARCHIVE : report ? DOC_E_LOG_REPORT : DOC_E_CSV_EXPORT);
    }
    if (archive) {
        hr = SaveArchive(path);
        if (FAILED(hr))
            return hr;
    } else if (extension == "CSV" || extension == "LOG") {
        bool csv = extension == "CSV";
#ifdef QOR_HAVE_CSV
        IQORDriver *app = m_host ? m_host->Automation() : nullptr;
        if (csv)
            hr = app ? CsvExport(app, *m_csv, path) : DOC_E_CSV_EXPORT;
        else
            hr = WriteLogReport(*m_csv, path);
        if (hr != S_OK)
            return Fail(csv ? DOC_E_CSV_EXPORT : DOC_E_LOG_REPORT);
#else
        LogMessage(SeverityError, "%s files are not available in this build:  %s", csv ? "CSV" : "Log report",
                   path.c_str());
        return Fail(csv ? DOC_E_CSV_EXPORT : DOC_E_LOG_REPORT);
#endif
    } else {
        LogMessage(SeverityError, "Invalid file extension:  %s", "File Save");
        return Fail(DOC_E_EXTENSION);
    }
    m_status = 0;
    // The log report holds no configuration: the configuration's changes are
    // still unsaved after it.
    if (!report) {
        m_modified = false;
        TitleChanged();
    }
    LogMessage(SeverityInfo, "Configuration file saved as %s", path.c_str());
    return S_OK;
}

HRESULT CServerDoc::SaveArchive(const std::string &path)
{
    CDriver *driver = m_host ? m_host->Configuration() : nullptr;
    std::string error;
    // The tree goes into a temporary file first, which replaces the old file
    // only once it is complete.
    if (!driver || !SaveConfigurationFile(path, *driver, &error)) {
        ReportFailure("Failed to save document.  " + path);
        if (!error.empty())
            ReportFailure(error);
        return Fail(DOC_E_ARCHIVE);
    }
    SetPathName(path);
    return S_OK;
}

bool CServerDoc::SaveModified(HWND owner)
{
    if (!m_modified)
        return true;
    int answer = m_questions->Ask(owner, "The I/O Driver Configuration has been modified but not saved.\nSave changes?",
                                  MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDCANCEL)
        return false;
    if (answer == IDYES)
        OnFileSaveAs(owner);
    return true;
}

void CServerDoc::OnFileNew(HWND owner)
{
    if (SaveModified(owner))
        New();
}

void CServerDoc::OnFileOpen(HWND owner)
{
    if (!SaveModified(owner))
        return;
    CServerFileDialog dialog(true, m_acronym, owner);
    std::string path;
    if (!dialog.Run(std::string(), path))
        return;
    std::string extension = Extension(path);
    if (extension == Upper(m_acronym)) {
        Open(path, false, nullptr);
    } else if (extension == "CSV") {
        HRESULT hr = Open(path, false, nullptr);
        if (hr == DOC_W_OLD_CSV &&
            m_questions->Ask(owner, "This is a CSV file generated by 6x version of K_5 driver.\nDo you want to import it?",
                             MB_YESNO | MB_ICONQUESTION) == IDYES)
            Open(path, true, nullptr);
    } else {
        LogMessage(SeverityError, "Invalid file extension:  %s", "File Open");
    }
}

void CServerDoc::OnFileSaveAs(HWND owner)
{
    CServerFileDialog dialog(false, m_acronym, owner);
    std::string path;
    if (!dialog.Run(Lower(m_title), path))
        return;
    std::string extension = Extension(path);
    if (extension == Upper(m_acronym) || extension == "CSV" || extension == "LOG")
        Save(path);
    else
        LogMessage(SeverityError, "Invalid file extension:  %s", "File SaveAs");
}

// The dialog.

CServerFileDialog::CServerFileDialog(bool open, const std::string &acronym, HWND owner)
    : m_open(open), m_acronym(acronym), m_owner(owner)
{
}

std::string CServerFileDialog::TypeExtension(int index) const
{
    switch (index) {
    case 1:
        return Lower(m_acronym);
    case 2:
        return "csv";
    case 3:
        return "log";
    default:
        return std::string();
    }
}

std::string CServerFileDialog::ReplaceExtension(const std::string &name, const std::string &extension)
{
    size_t dot = name.find('.');
    if (dot == std::string::npos)
        return name + "." + extension;
    return name.substr(0, dot + 1) + extension;
}

UINT_PTR CALLBACK CServerFileDialog::Hook(HWND dialog, UINT message, WPARAM, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, GWLP_USERDATA, LONG_PTR(reinterpret_cast<OPENFILENAMEA *>(lParam)->lCustData));
        return 0;
    }
    if (message != WM_NOTIFY)
        return 0;
    auto *notify = reinterpret_cast<OFNOTIFYA *>(lParam);
    if (notify->hdr.code != CDN_TYPECHANGE)
        return 0;
    auto *self = reinterpret_cast<CServerFileDialog *>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
    HWND parent = GetParent(dialog);
    char name[MAX_PATH] = "";
    if (!self || SendMessageA(parent, CDM_GETSPEC, sizeof name, LPARAM(name)) <= 0 || !name[0])
        return 0;
    std::string extension = self->TypeExtension(int(notify->lpOFN->nFilterIndex));
    if (extension.empty())
        return 0;
    std::string replaced = ReplaceExtension(name, extension);
    // The file-name box of the explorer-style dialog.
    SendMessageA(parent, CDM_SETCONTROLTEXT, 0x047c, LPARAM(replaced.c_str()));
    return 0;
}

bool CServerFileDialog::Run(const std::string &initialName, std::string &path)
{
    std::string ext = Upper(m_acronym);
    std::string filter = "Config. Files (*." + ext + ")|*." + ext + "|Text Files (*.CSV)|*.CSV|";
    if (!m_open)
        filter += "Log Files (*.LOG)|*.LOG|";
    filter += "|";
    std::replace(filter.begin(), filter.end(), '|', '\0');
    char buffer[MAX_PATH] = "";
    lstrcpynA(buffer, initialName.c_str(), sizeof buffer);
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = m_owner;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = buffer;
    ofn.nMaxFile = sizeof buffer;
    ofn.lpstrDefExt = nullptr;
    ofn.lCustData = LPARAM(this);
    ofn.lpfnHook = Hook;
    ofn.Flags = OFN_EXPLORER | OFN_ENABLEHOOK | OFN_HIDEREADONLY |
                (m_open ? OFN_FILEMUSTEXIST : OFN_OVERWRITEPROMPT | OFN_CREATEPROMPT);
    BOOL chosen = m_open ? GetOpenFileNameA(&ofn) : GetSaveFileNameA(&ofn);
    if (!chosen)
        return false;
    path = buffer;
    return true;
}
