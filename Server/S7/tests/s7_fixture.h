// The catalogue every S7 test of this program runs against: the stand-in
// s732.dll reads it from the file named by S732_CONFIG, written here before
// the first library call. Names are unique to this program, so its
// controllers' shared sections meet no other test program's.
#pragma once
#include "S7Error.h"
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

namespace s7test {

constexpr const char *kCp = "CPSRV";
constexpr const char *kVfd = "VFD1";

// Writes the catalogue file once per process.
void UseTestCatalogue();

// Collects the layer's debug lines while alive.
class DebugLines {
public:
    DebugLines();
    ~DebugLines();
    bool Contains(const std::string &part) const;
    std::vector<std::string> Lines() const;
};

} // namespace s7test
