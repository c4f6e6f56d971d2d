// CItemIdCheck: tells whether an item ID names an item of the I/O server's
// configuration, the way an item of a group parses it (address, then the
// signal conditioning, EGU and hardware-options parts through Oxley), and
// which data block the item lies in. Browsing and item properties use a
// fresh check per call, so that calls from several threads never share one.
#pragma once
#include <windows.h>

#include <string>

class CItemIdCheck {
public:
    // S_OK, or OPC_E_INVALIDITEMID when the ID is empty, its address does
    // not parse or one of its further parts is refused.
    HRESULT Parse(const char *itemId);

    // After a successful Parse: the server's handle of the item's data
    // block, and the item ID with all its fields (address "|" signal
    // conditioning "," LoEGU "," HiEGU "," hardware options).
    LONG BlockHandle() const { return m_blockHandle; }
    std::string FullItemID() const;

private:
    std::string m_address, m_signal, m_lo, m_hi, m_options;
    bool m_digital = false;
    LONG m_blockHandle = 0;
};

// Text with blanks (spaces and tabs) cut from both ends.
std::string TrimBlanks(const std::string &text);

// The part of an item's address that Oxley parses: the "!" that marks a
// digital item is no part of it. Null when that part is blank: the I/O
// server answers a blank address with its address hint, and Oxley would
// take that for an item.
const char *ParsedAddress(const std::string &address, bool digital);
