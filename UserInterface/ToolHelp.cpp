#include "ToolHelp.h"
#include <oleauto.h>
#include "BstrText.h"
#include "ContextHelpClass.h"
#include "TestLog.h"

const char CToolHelp::HelpFileName[] = "QOR.chm";
const char CToolHelp::ContextHelpFileName[] = "QORf1.chm";

bool CHtmlHelpViewer::DisplayTopic(HWND owner, const std::string &target)
{
    if (AppendTestLog("HtmlHelp " + target))
        return true;
    using HtmlHelpFunction = HWND(WINAPI *)(HWND, LPCSTR, UINT, DWORD_PTR);
    static HMODULE library = LoadLibraryA("hhctrl.ocx");
    const auto htmlHelp = library ? reinterpret_cast<HtmlHelpFunction>(GetProcAddress(library, "HtmlHelpA")) : nullptr;
    const UINT displayTopic = 0;  // HH_DISPLAY_TOPIC
    return htmlHelp && htmlHelp(owner, target.c_str(), displayTopic, 0) != NULL;
}

bool CHtmlHelpViewer::Spawn(const std::string &commandLine, const std::string &folder)
{
    if (AppendTestLog("Spawn " + commandLine + " in " + folder))
        return true;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    if (!CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, CREATE_NEW_CONSOLE, NULL,
                        folder.empty() ? NULL : folder.c_str(), &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

HRESULT CContextHelpControl::Show(int id, const std::string &file, bool &created)
{
    IContextHelpPopup *control = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_ContextHelpPopup, NULL, CLSCTX_INPROC_SERVER, IID_IContextHelpPopup,
                                  reinterpret_cast<void **>(&control));
    created = SUCCEEDED(hr);
    if (FAILED(hr))
        return hr;
    BSTR path = ToBstr(file);
    hr = path ? control->ShowHelpId(id, path, 100, 100) : E_OUTOFMEMORY;
    SysFreeString(path);
    control->Release();
    return hr;
}

namespace {

std::string Located(IHelpFileSystem &files, const char *name)
{
    const std::string installed = FindInstalledHelpFile(files, name);
    if (installed != name)
        return installed;
    const std::string beside = files.ProgramFolder() + "\\" + name;
    return files.FileExists(beside) ? files.FullPath(beside) : installed;
}

} // namespace

void CToolHelp::Locate(IHelpFileSystem &files)
{
    m_helpFile = Located(files, HelpFileName);
    m_contextHelpFile = Located(files, ContextHelpFileName);
}

void CToolHelp::ShowPopup(int controlId)
{
    bool created = false;
    const HRESULT hr = m_control.Show(controlId, m_contextHelpFile, created);
    if (!created)
        ShowServerError(m_messages, m_texts, HRESULT(ControlMissingCode));
    else if (FAILED(hr))
        ShowServerError(m_messages, m_texts, hr);
}

void CToolHelp::ShowTopic(HWND owner, const std::string &page)
{
    m_viewer.DisplayTopic(owner, m_helpFile + "::\\" + page);
}

void CToolHelp::ShowPopupTopic(HWND owner, const std::string &page)
{
    m_viewer.DisplayTopic(owner, m_contextHelpFile + "::\\" + page + ">pop-up");
}

void CToolHelp::HelpTopics()
{
    const size_t slash = m_helpFile.find_last_of('\\');
    const std::string folder = slash == std::string::npos ? std::string() : m_helpFile.substr(0, slash);
    if (!m_viewer.Spawn("HH " + m_helpFile, folder))
        m_messages.Box("Error:  HH " + m_helpFile + ", failed to spawn", ToolCaption, MB_OK | MB_ICONEXCLAMATION);
}
