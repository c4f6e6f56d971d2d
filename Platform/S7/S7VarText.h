// Parses the variable texts of read and write requests ("DB10,W100,5",
// "DB10,X100.3", "MW100,5", "AX4.1", "C10,3") into a memory range of the
// simulated controller. No OS headers: it is pure text work.
#pragma once
#include <stdint.h>
#include <string>

namespace s7sim {

struct VarRange {
    bool dataBlock = false;  // DB or DI: dbNumber names the block
    int area = 0;            // s7sim::Area when not a data block
    uint16_t dbNumber = 0;
    uint32_t offset = 0;     // first byte
    uint32_t bytes = 0;      // bytes covered
    bool bit = false;        // a single bit: bitNumber of the byte at offset
    int bitNumber = 0;
};

// False for a text that does not follow the grammar.
bool ParseVarText(const std::string &text, VarRange *range);

} // namespace s7sim
