// The program's own version block and the names derived from it: the
// registry key, the kernel objects, the configuration file extension, the
// ProgIDs and the registration texts all follow from these four strings.
#pragma once
#include <windows.h>
#include <string>

struct CServerVersion {
    std::string productName;       // "ProductName"
    std::string productVersion;    // "ProductVersion"
    std::string fileDescription;   // "FileDescription"
    std::string acronym;           // "InternalName": the driver's short name
    std::string modulePath;        // full path of the program file, upper-cased
};

// Reads the four strings from the "040904b0" block of module's file, in the
// order "ProductName", "ProductVersion", "FileDescription", "InternalName".
// False when the block or one of the strings is missing.
bool ReadServerVersion(HMODULE module, CServerVersion &version);

// The names that registration writes, all built from the version block.
struct CServerNames {
    std::string clsid;                  // "{402D97D2-...}", also the AppID
    std::string typeLibId;              // "{402D97D1-...}"
    std::string progId;                 // "Veltrane.Hadrel"
    std::string versionedProgId;        // progId + "." + first character of the version
    std::string description;            // the product name
    std::string descriptionWithVersion; // product name, blank, first three characters of the version
    std::string modulePath;             // upper-cased
    std::string moduleFileName;         // upper-cased file name of the program
    std::string typeLibPath;            // module path with ".EXE" replaced by ".TLB"
    std::string serviceName;            // "Hadrel"
    std::string serviceDisplayName;     // "QOR Server"
};

CServerNames MakeServerNames(const CServerVersion &version);

// The registry key of the driver's settings under HKEY_LOCAL_MACHINE.
std::string DriverRegistryKey(const std::string &acronym);

// A GUID as registry text, "{...}" upper-case.
std::string GuidText(REFGUID guid);
