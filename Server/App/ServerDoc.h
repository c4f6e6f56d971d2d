// The server's one document: it stands for the configuration tree that the
// automation object holds. Opening a file replaces the tree, saving writes
// it; the file's extension picks the format (the driver acronym for the
// configuration archive, "CSV" for the CSV files, "LOG" for the message-log
// report). Failures are logged, never shown in a box, and leave a status
// code for the automation caller.
#pragma once
#include <windows.h>
#include <memory>
#include <string>

class CDriver;
struct IQORDriver;

// Status codes of the file operations.
enum : LONG {
    DOC_E_EXTENSION = LONG(0xC1040007),   // no or unknown extension; a CSV file that cannot be opened
    DOC_E_OPEN = LONG(0xC1040008),        // the configuration file cannot be opened for reading
    DOC_E_ARCHIVE = LONG(0xC1040009),     // the archive failed while loading or storing
    DOC_E_CSV_EXPORT = LONG(0xC104000A),
    DOC_E_LOG_REPORT = LONG(0xC104000B),
    DOC_E_CSV_IMPORT = LONG(0xC104000C),
    DOC_W_OLD_CSV = LONG(0x8104000D),     // older CSV dialect, its import not allowed
};

// What the document needs from the automation object that owns the tree.
class IServerDocHost {
public:
    virtual ~IServerDocHost() = default;
    virtual CDriver *Configuration() = 0;
    // Makes driver the configuration (null: a new default one) and hands the
    // previous one back to the caller, or null when it was deleted.
    virtual HRESULT ReplaceConfiguration(std::unique_ptr<CDriver> driver, std::unique_ptr<CDriver> *previous) = 0;
    virtual void SetFullConfigFileName(const std::string &fullName) = 0;
    virtual void SetConfigFileTitle(const std::string &fileName) = 0;
    // The configuration folder (with its trailing backslash).
    virtual std::string ConfigFolder() = 0;
    // The automation object itself, for the CSV files; null where there is none.
    virtual IQORDriver *Automation() = 0;
};

// The rows of the message-log view, top (newest) first, for the log report.
class ILogRowSource {
public:
    virtual ~ILogRowSource() = default;
    virtual int LogRowCount() = 0;
    virtual bool GetLogRow(int index, int &image, std::string &message, std::string &date, std::string &time) = 0;
};

// The questions the File menu asks; the default asks with message boxes.
class IDocQuestions {
public:
    virtual ~IDocQuestions() = default;
    // IDYES, IDNO or IDCANCEL.
    virtual int Ask(HWND owner, const char *text, UINT buttons) = 0;
};

class CServerDoc {
public:
    CServerDoc(IServerDocHost *host, const std::string &acronym);
    ~CServerDoc();
    CServerDoc(const CServerDoc &) = delete;
    CServerDoc &operator=(const CServerDoc &) = delete;

    // A new empty configuration; false (status E_FAIL) when none can be made.
    bool New();
    // S_OK or the status code; a failure leaves the tree and the path as
    // they were. importedOld (may be null) tells whether the older CSV
    // dialect was read.
    HRESULT Open(const std::string &path, bool allowOldCsv, bool *importedOld);
    // S_OK or the status code; a failure leaves the file at path as it was.
    HRESULT Save(const std::string &path);

    bool IsModified() const { return m_modified; }
    void SetModified(bool modified = true);
    bool IsImporting() const { return m_importing; }
    LONG Status() const { return m_status; }
    void ClearStatus() { m_status = 0; }
    const std::string &PathName() const { return m_pathName; }
    const std::string &Title() const { return m_title; }
    // "Untitled." and the lower-cased acronym.
    std::string DefaultTitle() const;

    void SetLogRows(ILogRowSource *rows) { m_logRows = rows; }
    void SetQuestions(IDocQuestions *questions);
    // Called whenever the title or the modified mark changes (the frame's caption).
    void SetTitleListener(void (*listener)(void *), void *context);

    // The File menu: the save question, the dialogs, the commands.
    void OnFileNew(HWND owner);
    void OnFileOpen(HWND owner);
    void OnFileSaveAs(HWND owner);

    // The upper-cased text after the last "." of the path's file name;
    // empty when there is none.
    static std::string Extension(const std::string &path);
    // The failure report's text for a Win32 error of opening or writing
    // path (reading tells the direction).
    static std::string FileFailureText(DWORD error, const std::string &path, bool reading);

private:
    class CCsvBridge;
    friend class CCsvBridge;

    void SetPathName(const std::string &path);
    void ReportFailure(const std::string &text);
    HRESULT Fail(LONG code);
    HRESULT OpenArchive(const std::string &path);
    HRESULT SaveArchive(const std::string &path);
    HRESULT OpenCsv(const std::string &path, bool allowOld, bool *importedOld);
    bool SaveModified(HWND owner);
    void TitleChanged();

    IServerDocHost *m_host;
    std::string m_acronym;
    std::string m_pathName;
    std::string m_title;
    bool m_modified = false;
    bool m_importing = false;
    LONG m_status = 0;
    ILogRowSource *m_logRows = nullptr;
    IDocQuestions *m_questions;
    void (*m_titleListener)(void *) = nullptr;
    void *m_titleContext = nullptr;
    std::unique_ptr<CCsvBridge> m_csv;
};

// The open and save dialog: when the user picks another file type, the
// name's extension follows it. ReplaceExtension is the rule: the extension
// begins after the first "." of the name; a name without one gets "." and
// the extension.
class CServerFileDialog {
public:
    CServerFileDialog(bool open, const std::string &acronym, HWND owner);
    // The chosen path; false when the user cancelled.
    bool Run(const std::string &initialName, std::string &path);
    // The extension of file type index (1-based): the acronym, "csv", "log".
    std::string TypeExtension(int index) const;
    static std::string ReplaceExtension(const std::string &name, const std::string &extension);

private:
    static UINT_PTR CALLBACK Hook(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    bool m_open;
    std::string m_acronym;
    HWND m_owner;
};
