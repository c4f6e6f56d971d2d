// The tool's Open / Save As dialog for configuration files on the server's
// machine: extension "QOR", the filter of the driver's files and CSV files,
// and the file name's extension following the type the user picks.
#pragma once
#include <string>
#include "FileDialog.h"
#include "UserInterfaceDoc.h"

class CClientFileDialog : public CFileDialog {
public:
    CClientFileDialog(bool open, const std::string &fileName);
    // The extension for file type index: the acronym, "CSV", else "LOG",
    // in lower case.
    static std::string TypeExtension(int index);
    // The filter with the acronym in place of "###".
    static std::string Filter();

protected:
    void OnTypeChange(HWND dialog, int index) override;
};

// The document's file dialog on screen.
class CDialogFileChooser : public IFileChooser {
public:
    explicit CDialogFileChooser(HWND *owner) : m_owner(owner) {}
    bool Choose(bool open, const std::string &fileName, const std::string &folder, std::string &path) override;

private:
    HWND *m_owner;
};
