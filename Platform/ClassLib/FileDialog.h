// CFileDialog: the system's Open / Save As dialog. The filter is written as
// "Name|*.ext|Name|*.ext|", the way string resources hold it. A derived
// dialog hears when the user picks another file type (OnTypeChange).
#pragma once
#include <windows.h>
#include <string>

class CFileDialog {
public:
    CFileDialog(bool open, const std::string &defaultExtension, const std::string &fileName, DWORD flags,
                const std::string &filter);
    virtual ~CFileDialog() = default;

    void SetInitialFolder(const std::string &folder) { m_folder = folder; }
    // IDOK or IDCANCEL.
    INT_PTR DoModal(HWND owner);
    const std::string &PathName() const { return m_path; }

    // "A|a|B|b|" as the system wants it: "A\0a\0B\0b\0\0".
    static std::string SystemFilter(const std::string &filter);
    // name with its extension replaced by extension, or "." and extension
    // appended when it has none.
    static std::string ReplaceExtension(const std::string &name, const std::string &extension);

protected:
    // The user picked file type index (0 for the first).
    virtual void OnTypeChange(HWND dialog, int index) {}
    // The file-name box's text, and setting it.
    static std::string FileNameText(HWND dialog);
    static void SetFileNameText(HWND dialog, const std::string &text);

private:
    static UINT_PTR CALLBACK Hook(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    bool m_open;
    std::string m_extension, m_fileName, m_filter, m_folder, m_path;
    DWORD m_flags;
};
