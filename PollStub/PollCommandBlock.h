// The poll stub's shared command block: a named, page-file-backed section
// of three little-endian 16-bit words that an outside controller and the
// stub share. Its name is the first three letters of the stub's own program
// file name, upper-cased, followed by "_TO_IOC" ("QUI_TO_IOC" for
// Quimby.exe).
#pragma once
#include <windows.h>
#include <cstddef>
#include <cstdint>
#include <string>

#pragma pack(push, 2)
struct PollCommandBlock {
    volatile int16_t marker;    // 5, written by whoever creates the section
    volatile int16_t command;   // controller: 1 run, 2 stop, 3 end the stub
    volatile int16_t state;     // stub: 1 running, 2 stopped, 3 stopping / ended
};
#pragma pack(pop)
static_assert(sizeof(PollCommandBlock) == 6, "the block is three 16-bit words");
static_assert(offsetof(PollCommandBlock, command) == 2, "command word at byte 2");
static_assert(offsetof(PollCommandBlock, state) == 4, "state word at byte 4");

enum PollCommand : int16_t { CommandRun = 1, CommandStop = 2, CommandEnd = 3 };
enum PollState : int16_t { StateRunning = 1, StateStopped = 2, StateStopping = 3 };
const int16_t PollBlockMarker = 5;

// The section name for a program path.
inline std::string PollBlockName(const std::string &programPath)
{
    std::string file = programPath.substr(programPath.find_last_of("\\/") + 1);
    std::string name;
    for (size_t i = 0; i < file.size() && i < 3; ++i)
        name += char(file[i] >= 'a' && file[i] <= 'z' ? file[i] - 'a' + 'A' : file[i]);
    return name + "_TO_IOC";
}
