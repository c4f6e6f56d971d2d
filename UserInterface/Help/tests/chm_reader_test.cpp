// The compiled-help reader and the topic map on the help files that chmcmd
// made in this build, and on damaged copies of them.
#include <gtest/gtest.h>
#include <windows.h>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>
#include "ChmStorageReader.h"
#include "HelpTopics.h"

namespace {

class ComApartment {
public:
    ComApartment() { CoInitialize(NULL); }
    ~ComApartment() { CoUninitialize(); }
};

void PutEncInt(std::string &out, unsigned long long value)
{
    char bytes[10];
    int n = 0;
    do {
        bytes[n++] = static_cast<char>(value & 0x7F);
        value >>= 7;
    } while (value);
    while (n-- > 0)
        out += static_cast<char>(bytes[n] | (n ? 0x80 : 0));
}

template <typename T> void Put(std::string &out, size_t at, T value) { memcpy(&out[at], &value, sizeof(T)); }

// A help file of uncompressed internal files only, in the storage format the
// compiled-help component reads: header, one directory chunk, the content.
void WriteHelpFile(const char *path, const std::vector<std::pair<std::string, std::string>> &files)
{
    const size_t headerLength = 0x60, directoryHeader = 0x54, chunk = 0x1000;
    std::string content, entries;
    for (const auto &file : files) {
        PutEncInt(entries, file.first.size());
        entries += file.first;
        PutEncInt(entries, 0);
        PutEncInt(entries, content.size());
        PutEncInt(entries, file.second.size());
        content += file.second;
    }
    std::string out(headerLength + directoryHeader + chunk, '\0');
    memcpy(&out[0], "ITSF", 4);
    Put<int32_t>(out, 4, 3);
    Put<int32_t>(out, 8, static_cast<int32_t>(headerLength));
    Put<int32_t>(out, 0xC, 1);
    Put<uint32_t>(out, 0x14, 0x409);
    Put<uint64_t>(out, 0x48, headerLength);
    Put<uint64_t>(out, 0x50, directoryHeader + chunk);
    Put<uint64_t>(out, 0x58, out.size());
    const size_t itsp = headerLength;
    memcpy(&out[itsp], "ITSP", 4);
    Put<int32_t>(out, itsp + 4, 1);
    Put<int32_t>(out, itsp + 8, static_cast<int32_t>(directoryHeader));
    Put<int32_t>(out, itsp + 0xC, 10);
    Put<uint32_t>(out, itsp + 0x10, static_cast<uint32_t>(chunk));
    Put<int32_t>(out, itsp + 0x14, 2);
    Put<int32_t>(out, itsp + 0x18, 1);
    Put<int32_t>(out, itsp + 0x1C, -1);
    Put<int32_t>(out, itsp + 0x20, 0);
    Put<int32_t>(out, itsp + 0x24, 0);
    Put<int32_t>(out, itsp + 0x28, -1);
    Put<uint32_t>(out, itsp + 0x2C, 1);
    Put<uint32_t>(out, itsp + 0x30, 0x409);
    Put<int32_t>(out, itsp + 0x48, -1);
    const size_t pmgl = itsp + directoryHeader;
    memcpy(&out[pmgl], "PMGL", 4);
    Put<uint32_t>(out, pmgl + 4, static_cast<uint32_t>(chunk - 20 - entries.size()));
    Put<int32_t>(out, pmgl + 12, -1);
    Put<int32_t>(out, pmgl + 16, -1);
    memcpy(&out[pmgl + 20], entries.data(), entries.size());
    out += content;
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(out.data(), static_cast<std::streamsize>(out.size()));
}

std::string Dwords(std::initializer_list<DWORD> values)
{
    std::string bytes;
    for (DWORD value : values)
        bytes.append(reinterpret_cast<const char *>(&value), 4);
    return bytes;
}

class ChmReader : public ::testing::Test {
protected:
    ComApartment com;
    ChmStorageReader reader;
    CHelpTopicMap map;
};

}  // namespace

TEST_F(ChmReader, TopicNumbersLeadToTheirPagesAndTexts)
{
    ASSERT_EQ(S_OK, reader.Open("QORf1.chm"));
    ASSERT_EQ(S_OK, map.Load(reader));
    struct {
        DWORD topic;
        const char *page;
        const char *words;
    } const cases[] = {
        {107001, "h107001.htm", "Block Name"},
        {199999, "h199999.htm", "Select an object in the tree"},
        {105006, "h105006.htm", "0 to 9"},
    };
    for (const auto &c : cases) {
        std::string page;
        EXPECT_EQ(S_OK, TopicFileName(reader, map, c.topic, page)) << c.topic;
        EXPECT_EQ(c.page, page);
        std::string html, title;
        EXPECT_EQ(S_OK, reader.ReadStream(("/" + page).c_str(), html));
        EXPECT_NE(std::string::npos, PlainTextFromHtml(html, &title).find(c.words)) << page;
        EXPECT_FALSE(title.empty());
    }
    std::string page = "kept?";
    EXPECT_EQ(E_FAIL, TopicFileName(reader, map, 123456, page));
    EXPECT_EQ("", page);
}

TEST_F(ChmReader, StringReadsAtTheEdges)
{
    // An empty string, a name, and a last string without its terminator.
    WriteHelpFile("strings.chm", {{"/#STRINGS", std::string("\0/page.htm\0unended", 18)}});
    ASSERT_EQ(S_OK, reader.Open("strings.chm"));
    char buffer[300];
    memset(buffer, 'x', sizeof(buffer));
    EXPECT_TRUE(reader.ReadString(0, buffer, 65));
    EXPECT_STREQ("", buffer);
    // A buffer of 64 bytes or less never reads.
    for (DWORD size : {DWORD(1), DWORD(63), DWORD(64)}) {
        memset(buffer, 'x', sizeof(buffer));
        EXPECT_FALSE(reader.ReadString(1, buffer, size)) << size;
        EXPECT_EQ(0, buffer[0]);
    }
    EXPECT_TRUE(reader.ReadString(1, buffer, 65));
    EXPECT_STREQ("/page.htm", buffer);
    EXPECT_TRUE(reader.ReadString(5, buffer, sizeof(buffer)));
    EXPECT_STREQ("e.htm", buffer);
    // Past the end, and a string the stream ends inside.
    for (DWORD offset : {DWORD(18), DWORD(0x7FFFFFF0), DWORD(11)}) {
        memset(buffer, 'x', sizeof(buffer));
        EXPECT_FALSE(reader.ReadString(offset, buffer, 100)) << offset;
        EXPECT_STREQ("", buffer);
    }
    reader.Close();
    DeleteFileA("strings.chm");
}

TEST_F(ChmReader, AStringLongerThanTheBufferIsRefusedWithoutWritingPastIt)
{
    ASSERT_EQ(S_OK, reader.Open("HelpFixture.chm"));
    ASSERT_EQ(S_OK, map.Load(reader));
    DWORD offset = 0;
    ASSERT_TRUE(map.Find(7, offset));
    char stored[1000];
    ASSERT_TRUE(reader.ReadString(offset, stored, sizeof(stored)));
    const std::string name = "a_topic_page_whose_file_name_is_longer_than_the_sixty_four_byte_chunks_of_the_reader.htm";
    const DWORD length = static_cast<DWORD>(strlen(stored));
    ASSERT_GE(length, name.size());
    char buffer[1000];
    for (DWORD size : {DWORD(65), DWORD(80), length}) {
        memset(buffer, 'G', sizeof(buffer));
        EXPECT_FALSE(reader.ReadString(offset, buffer, size)) << size;
        EXPECT_EQ(0, buffer[0]);
        EXPECT_EQ(std::string(sizeof(buffer) - size, 'G'), std::string(buffer + size, sizeof(buffer) - size)) << size;
    }
    EXPECT_TRUE(reader.ReadString(offset, buffer, length + 1));
    EXPECT_STREQ(stored, buffer);
    std::string page;
    EXPECT_EQ(S_OK, TopicFileName(reader, map, 7, page));
    EXPECT_EQ(name, page);
    EXPECT_TRUE(reader.Contains(("/" + page).c_str()));
}

TEST_F(ChmReader, OpenFailuresAndFilesWithoutAMap)
{
    EXPECT_EQ(STG_E_PATHNOTFOUND, map.Load(reader));
    EXPECT_FALSE(reader.ReadString(0, std::vector<char>(100).data(), 100));
    EXPECT_TRUE(FAILED(reader.Open("no-such-help.chm")));
    EXPECT_FALSE(reader.IsOpen());
    EXPECT_EQ(STG_E_PATHNOTFOUND, reader.Open(std::string(260, 'a').c_str()));
    ASSERT_EQ(S_OK, reader.Open("QOR.chm"));
    EXPECT_EQ(STG_E_FILENOTFOUND, map.Load(reader));
    EXPECT_FALSE(map.Loaded());
}

TEST_F(ChmReader, DamagedTopicMapsAreBoundedByTheirStream)
{
    const std::string strings("\0/page.htm\0", 11);
    struct {
        const char *name;
        std::string ivb;
        HRESULT expected;
    } const cases[] = {
        {"ivb-good.chm", Dwords({16, 5, 1, 6, 1}), S_OK},
        {"ivb-less.chm", Dwords({8, 5, 1, 6, 1}), S_OK},
        {"ivb-stub.chm", std::string("\x10\0", 2), STG_E_READFAULT},
        {"ivb-short.chm", Dwords({24, 5, 1, 6, 1}), STG_E_READFAULT},
        {"ivb-huge.chm", Dwords({0x7FFFFFF8, 5, 1}), STG_E_READFAULT},
        {"ivb-all.chm", Dwords({0xFFFFFFFF, 5, 1}), STG_E_READFAULT},
    };
    for (const auto &c : cases) {
        WriteHelpFile(c.name, {{"/#IVB", c.ivb}, {"/#STRINGS", strings}, {"/page.htm", "<p>Page</p>"}});
        ChmStorageReader damaged;
        CHelpTopicMap topics;
        ASSERT_EQ(S_OK, damaged.Open(c.name)) << c.name;
        EXPECT_EQ(c.expected, topics.Load(damaged)) << c.name;
        EXPECT_EQ(c.expected == S_OK, topics.Loaded()) << c.name;
        std::string page;
        EXPECT_EQ(c.expected == S_OK ? S_OK : E_FAIL, TopicFileName(damaged, topics, 5, page)) << c.name;
        EXPECT_EQ(c.expected == S_OK ? "/page.htm" : "", page) << c.name;
        damaged.Close();
        DeleteFileA(c.name);
    }
    // The map says no more than its length: record 6 lies past it.
    WriteHelpFile("ivb-less.chm", {{"/#IVB", Dwords({8, 5, 1, 6, 1})}, {"/#STRINGS", strings}});
    ASSERT_EQ(S_OK, reader.Open("ivb-less.chm"));
    ASSERT_EQ(S_OK, map.Load(reader));
    DWORD offset = 0;
    EXPECT_FALSE(map.Find(6, offset));
    reader.Close();
    DeleteFileA("ivb-less.chm");
}
