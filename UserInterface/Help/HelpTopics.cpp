#include "HelpTopics.h"
#include <cctype>
#include <cstring>
#include <new>

HRESULT CHelpTopicMap::Load(ChmStorageReader &reader)
{
    m_loaded = false;
    m_records.clear();
    if (!reader.IsOpen())
        return STG_E_PATHNOTFOUND;
    std::string bytes;
    HRESULT hr = reader.ReadStream("#IVB", bytes);
    if (hr == E_OUTOFMEMORY)
        return hr;
    if (FAILED(hr))
        return STG_E_FILENOTFOUND;
    if (bytes.size() < 4)
        return STG_E_READFAULT;
    DWORD length = 0;
    memcpy(&length, bytes.data(), 4);
    // The length comes from the file: a damaged one must not ask for more
    // than the stream holds.
    if (length > bytes.size() - 4)
        return STG_E_READFAULT;
    try {
        for (DWORD at = 4; at + 8 <= 4 + length; at += 8) {
            DWORD record[2];
            memcpy(record, bytes.data() + at, 8);
            m_records.emplace(record[0], record[1]);
        }
    } catch (const std::bad_alloc &) {
        m_records.clear();
        return E_OUTOFMEMORY;
    }
    m_loaded = true;
    return S_OK;
}

bool CHelpTopicMap::Find(DWORD topic, DWORD &offset) const
{
    const auto found = m_records.find(topic);
    if (found == m_records.end())
        return false;
    offset = found->second;
    return true;
}

HRESULT TopicFileName(ChmStorageReader &reader, const CHelpTopicMap &map, DWORD topic, std::string &name)
{
    name.clear();
    DWORD offset = 0;
    if (!map.Find(topic, offset))
        return E_FAIL;
    char text[MAX_PATH + 1];
    if (!reader.ReadString(offset, text, sizeof(text)) || !text[0])
        return E_FAIL;
    name = text;
    // chmcmd stores a mapped topic under the path its page had on the build
    // machine; inside the help file the page lies at the root.
    const size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos && slash > 0 && !reader.Contains(name.c_str()))
        name = name.substr(slash + 1);
    return S_OK;
}

static bool StartsWithTag(const std::string &tag, const char *name)
{
    const size_t n = strlen(name);
    if (tag.size() < n || _strnicmp(tag.c_str(), name, n) != 0)
        return false;
    return tag.size() == n || !isalnum(static_cast<unsigned char>(tag[n]));
}

std::string PlainTextFromHtml(const std::string &html, std::string *title)
{
    static const char *const blocks[] = {"p", "/p", "br", "h1", "/h1", "h2", "/h2", "h3", "/h3", "li",
                                         "/li", "tr", "/tr", "div", "/div", "/ul", "/table", "dt", "dd"};
    static const struct {
        const char *name;
        char c;
    } entities[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&nbsp;", ' '}, {"&#39;", '\''}};
    std::string text;
    bool skipping = false;  // inside <head>, <script> or <style>
    bool inTitle = false;
    std::string titleText;
    auto newline = [&text]() {
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        if (!text.empty() && (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0))
            text += "\r\n";
    };
    for (size_t i = 0; i < html.size();) {
        const char c = html[i];
        if (c == '<') {
            const size_t end = html.find('>', i);
            if (end == std::string::npos)
                break;
            const std::string tag = html.substr(i + 1, end - i - 1);
            i = end + 1;
            if (StartsWithTag(tag, "title"))
                inTitle = true;
            else if (StartsWithTag(tag, "/title"))
                inTitle = false;
            else if (StartsWithTag(tag, "head") || StartsWithTag(tag, "script") || StartsWithTag(tag, "style"))
                skipping = true;
            else if (StartsWithTag(tag, "/head") || StartsWithTag(tag, "/script") || StartsWithTag(tag, "/style"))
                skipping = false;
            if (skipping)
                continue;
            for (const char *block : blocks)
                if (StartsWithTag(tag, block)) {
                    newline();
                    if (StartsWithTag(tag, "li"))
                        text += "- ";
                    break;
                }
            continue;
        }
        char out = c;
        size_t step = 1;
        if (c == '&')
            for (const auto &entity : entities)
                if (html.compare(i, strlen(entity.name), entity.name) == 0) {
                    out = entity.c;
                    step = strlen(entity.name);
                    break;
                }
        i += step;
        if (out == '\r' || out == '\n' || out == '\t')
            out = ' ';
        if (inTitle) {
            titleText += out;
            continue;
        }
        if (skipping)
            continue;
        if (out == ' ' && (text.empty() || text.back() == ' ' || text.back() == '\n'))
            continue;
        text += out;
    }
    newline();
    if (title)
        *title = titleText;
    return text;
}

std::string HelpFileUrl(const std::string &helpFile, const std::string &topicFile)
{
    return "its:" + helpFile + "::" + topicFile;
}

bool SplitHelpUrl(const std::string &url, std::string &helpFile, std::string &topicFile)
{
    std::string rest = url;
    if (_strnicmp(rest.c_str(), "its:", 4) == 0)
        rest = rest.substr(4);
    const size_t sep = rest.find("::");
    if (sep == std::string::npos)
        return false;
    helpFile = rest.substr(0, sep);
    topicFile = rest.substr(sep + 2);
    const size_t popup = topicFile.find('>');
    if (popup != std::string::npos)
        topicFile = topicFile.substr(0, popup);
    while (!topicFile.empty() && (topicFile[0] == '\\' || topicFile[0] == '/'))
        topicFile.erase(0, 1);
    return !helpFile.empty() && !topicFile.empty();
}
