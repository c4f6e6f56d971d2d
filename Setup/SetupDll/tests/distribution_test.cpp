// The distribution folder as a host program outside it meets it: this program
// lives in a folder of its own, as an HMI or any other host does, and
// Windows looks for a library's imports in the host's folder, the system
// folders and PATH, never in the library's own folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const char *const kRuntimeLibraries[] = {"libstdc++-6.dll", "libgcc_s_seh-1.dll", "libgcc_s_dw2-1.dll",
                                         "libwinpthread-1.dll"};

std::string DistFolder()
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, sizeof path);
    std::string folder = path;
    folder.erase(folder.find_last_of('\\'));
    return folder.substr(0, folder.find_last_of('\\')) + "\\dist\\";
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(tolower(c)); });
    return text;
}

// The files of the INF's [SourceDisksFiles]: what an installation carries.
std::vector<std::string> ShippedFiles()
{
    std::ifstream inf(DistFolder() + "QOR.inf");
    std::vector<std::string> files;
    bool inSection = false;
    for (std::string line; std::getline(inf, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line[0] == '[')
            inSection = line == "[SourceDisksFiles]";
        else if (inSection && line.find('=') != std::string::npos)
            files.push_back(Lower(line.substr(0, line.find('='))));
    }
    return files;
}

// The names of the libraries a PE file imports, read from the file itself
// (32-bit and 64-bit images alike); false when it is no PE file.
bool ReadImports(const std::string &path, std::vector<std::string> *names)
{
    std::ifstream in(path, std::ios::binary);
    std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto fits = [&](size_t offset, size_t size) { return offset <= image.size() && size <= image.size() - offset; };
    if (!fits(0, sizeof(IMAGE_DOS_HEADER)))
        return false;
    const size_t nt = reinterpret_cast<const IMAGE_DOS_HEADER *>(image.data())->e_lfanew;
    if (!fits(nt, sizeof(IMAGE_NT_HEADERS32)))
        return false;
    const IMAGE_NT_HEADERS32 *headers = reinterpret_cast<const IMAGE_NT_HEADERS32 *>(image.data() + nt);
    const IMAGE_DATA_DIRECTORY *imports =
        headers->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC
            ? &reinterpret_cast<const IMAGE_NT_HEADERS64 *>(headers)->OptionalHeader.DataDirectory[1]
            : &headers->OptionalHeader.DataDirectory[1];
    const size_t sections = nt + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
                            headers->FileHeader.SizeOfOptionalHeader;
    const WORD sectionCount = headers->FileHeader.NumberOfSections;
    if (headers->Signature != IMAGE_NT_SIGNATURE || !fits(sections, sectionCount * sizeof(IMAGE_SECTION_HEADER)))
        return false;
    auto fileOffset = [&](DWORD rva) -> size_t {
        const IMAGE_SECTION_HEADER *s = reinterpret_cast<const IMAGE_SECTION_HEADER *>(image.data() + sections);
        for (WORD i = 0; i < sectionCount; ++i)
            if (rva >= s[i].VirtualAddress && rva - s[i].VirtualAddress < s[i].SizeOfRawData)
                return rva - s[i].VirtualAddress + s[i].PointerToRawData;
        return image.size();
    };
    if (!imports->VirtualAddress)
        return true; // a library of resources only
    for (size_t at = fileOffset(imports->VirtualAddress); fits(at, sizeof(IMAGE_IMPORT_DESCRIPTOR));
         at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const DWORD name = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR *>(image.data() + at)->Name;
        if (!name)
            break;
        const size_t text = fileOffset(name);
        if (text < image.size())
            names->push_back(Lower(image.c_str() + text));
    }
    return true;
}

bool InSystemFolder(const std::string &library)
{
    char folder[MAX_PATH];
    GetSystemDirectoryA(folder, MAX_PATH);
    return GetFileAttributesA((std::string(folder) + "\\" + library).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Every program and library that an installation carries imports only the
// system's libraries and files that the installation carries too: none
// needs the compiler's runtime libraries beside it.
TEST(Distribution, EveryShippedBinaryImportsOnlySystemLibrariesAndShippedFiles)
{
    std::vector<std::string> shipped = ShippedFiles();
    ASSERT_NE(shipped.end(), std::find(shipped.begin(), shipped.end(), "oxley.dll")) << DistFolder() + "QOR.inf";
    int binaries = 0;
    for (const std::string &file : shipped) {
        const std::string kind = file.size() > 4 ? file.substr(file.size() - 4) : "";
        if (kind != ".dll" && kind != ".exe")
            continue;
        SCOPED_TRACE(file);
        std::vector<std::string> imports;
        ASSERT_TRUE(ReadImports(DistFolder() + file, &imports)) << "a Windows binary in the distribution folder";
        ++binaries;
        for (const std::string &library : imports) {
            for (const char *runtime : kRuntimeLibraries)
                EXPECT_NE(runtime, library);
            bool isShipped = std::find(shipped.begin(), shipped.end(), library) != shipped.end();
            EXPECT_TRUE(isShipped || InSystemFolder(library)) << library;
        }
    }
    EXPECT_GE(binaries, 10);
}

// The libraries that hosts load by their full paths: the Setup library as
// the Setup program does, the HMI and OPC libraries as COM and the HMI do,
// with their own folder searched for the libraries they link.
TEST(Distribution, TheLibrariesLoadIntoAHostOutsideTheirFolder)
{
    struct Case {
        const char *library;
        DWORD flags;
    } cases[] = {
        {"Setup.dll", 0},
        {"Oxley.dll", LOAD_WITH_ALTERED_SEARCH_PATH},
        {"Brisko.dll", LOAD_WITH_ALTERED_SEARCH_PATH},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.library);
        HMODULE module = LoadLibraryExA((DistFolder() + c.library).c_str(), NULL, c.flags);
        EXPECT_NE(nullptr, module) << "error " << GetLastError();
        for (const char *runtime : kRuntimeLibraries)
            EXPECT_EQ(nullptr, GetModuleHandleA(runtime)) << runtime << " was loaded";
        if (module)
            FreeLibrary(module);
    }
}

}  // namespace
