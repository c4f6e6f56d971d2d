#include "CsvTestHost.h"

std::string CsvFixture(const std::string &name)
{
    // Beside the test program, where the build copies tests/data.
    char program[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, program, sizeof program);
    std::string dir(program, n);
    dir = dir.substr(0, dir.find_last_of("\\/") + 1);
    return dir + "csv_test_data\\" + name;
}

std::string ReadCsvFixture(const std::string &name)
{
    CTempFile fixture("unused");
    fixture.path = CsvFixture(name);
    std::string bytes = fixture.Read();
    fixture.path.clear();   // not ours to delete
    return bytes;
}
