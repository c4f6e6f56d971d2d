// A help file's topic numbers and topic texts: the "#IVB" map (topic number
// -> offset of the topic's file name in "#STRINGS"), and the plain text of an
// HTML topic for windows that cannot show HTML.
#pragma once
#include <windows.h>
#include <map>
#include <string>
#include "ChmStorageReader.h"

class CHelpTopicMap {
public:
    // Reads "#IVB" of an open help file: a 4-byte length, then that many bytes
    // of 8-byte records. STG_E_PATHNOTFOUND (file not open),
    // STG_E_FILENOTFOUND (no map), STG_E_READFAULT (shorter than it says),
    // E_OUTOFMEMORY.
    HRESULT Load(ChmStorageReader &reader);
    bool Loaded() const { return m_loaded; }
    // The string-table offset of the topic's file name.
    bool Find(DWORD topic, DWORD &offset) const;

private:
    bool m_loaded = false;
    std::map<DWORD, DWORD> m_records;
};

// The file name of topic inside the help file ("s7Channel.htm"); E_FAIL when
// the map has no such topic or its name cannot be read.
HRESULT TopicFileName(ChmStorageReader &reader, const CHelpTopicMap &map, DWORD topic, std::string &name);

// An HTML page as text: tags dropped, blocks on lines of their own, the
// common entities decoded. The title (empty when none) comes separately.
std::string PlainTextFromHtml(const std::string &html, std::string *title = nullptr);

// "its:%s::%s" and the "file::topic" parts of such a name.
std::string HelpFileUrl(const std::string &helpFile, const std::string &topicFile);
bool SplitHelpUrl(const std::string &url, std::string &helpFile, std::string &topicFile);
