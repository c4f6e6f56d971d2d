// CBlockAnswers: what the I/O server answered while the items of one
// AddItems or ValidateItems call were set up, kept by data block. Each
// answer is a cross-process call, so the items of one block share them: the
// block's "OPCDataType" is asked once, and an item whose address lies inside
// a block that an earlier item of the call resolved gets the records that
// Oxley's parse would get from the server, worked out here from the block's
// extent. Whatever cannot be answered that way is parsed by Oxley as before.
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "KivRecords.h"
#include "QORDriver.h"
#include "S7Types.h"

class CBlockAnswers {
public:
    // Without a driver no block is ever asked about, and nothing is answered.
    explicit CBlockAnswers(IDriver *driver);
    ~CBlockAnswers();
    CBlockAnswers(const CBlockAnswers &) = delete;
    CBlockAnswers &operator=(const CBlockAnswers &) = delete;

    // Fills the address fields of block (fresh records) as kiv_paddr of text
    // with an item of this kind would; false when that needs the server.
    bool Answer(const char *text, BYTE kind, KivBlock *block);
    // Takes note of what kiv_paddr answered for text: the device the text
    // names, and the block it resolved to, whose extent the parse may have
    // changed.
    void Learn(const char *text, BYTE kind, const KivBlock &block);
    // The block's "OPCDataType" (a VARTYPE); false when the server gives none.
    bool BlockType(LONG handle, VARTYPE *type);
    // How many addresses were answered here, and how many blocks asked about.
    unsigned Answered() const { return m_answered; }
    unsigned Asked() const { return m_asked; }

private:
    struct Block {
        uint16_t index = 0;
        bool asked = false;       // the properties below are current
        bool hasType = false;
        VARTYPE type = VT_EMPTY;
        bool hasExtent = false;
        S7Address extent;         // area, number, start, length, data type
    };
    struct Device {
        uint32_t reference = 0;
        std::string name;         // as the server spells it, once an answer showed it
        std::vector<LONG> blocks;
    };
    // The server's reading of an address text: the device part (upper-cased),
    // the position, and whether it names a bit.
    struct Position {
        std::string device;
        S7Address address;
        bool bit = false;
    };
    static bool Read(const char *text, Position *position);
    Block &Ask(LONG handle);
    // Address units of the element that the server's parse of an address
    // in the area takes; 0 when it takes none.
    unsigned ParsedWidth(uint16_t area) const;

    IDriver *m_driver;
    uint16_t m_defaultType = S7TypeByte;
    unsigned m_answered = 0, m_asked = 0;
    std::map<std::pair<std::string, bool>, Device> m_devices;  // by device text and bit
    std::map<LONG, Block> m_blocks;
};
