// The other process of the two-process test: reaches a simulated
// controller's memory by its section alone.
//   s732_peer write CP VFD CONN DB OFFSET HEXBYTES   sets the bytes
//   s732_peer check CP VFD CONN DB OFFSET HEXBYTES   exits 0 when they match
#include "S7Sim.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    if (argc != 8)
        return 2;
    std::vector<BYTE> bytes;
    for (const char *p = argv[7]; p[0] && p[1]; p += 2) {
        char pair[3] = {p[0], p[1], 0};
        bytes.push_back(static_cast<BYTE>(strtoul(pair, nullptr, 16)));
    }
    s7sim::Controller plc;
    if (!plc.Open(argv[2], argv[3], argv[4]))
        return 3;
    WORD db = static_cast<WORD>(atoi(argv[5]));
    DWORD offset = static_cast<DWORD>(atoi(argv[6]));
    if (strcmp(argv[1], "write") == 0)
        return plc.WriteDb(db, offset, bytes.data(), static_cast<DWORD>(bytes.size())) ? 0 : 4;
    std::vector<BYTE> now(bytes.size());
    if (!plc.ReadDb(db, offset, now.data(), static_cast<DWORD>(now.size())))
        return 4;
    return now == bytes ? 0 : 1;
}
