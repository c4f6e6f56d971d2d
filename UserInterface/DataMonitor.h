// The data monitor's presenter: one data block's raw bytes as the server
// holds them, laid out in labelled lines in one of eleven number formats,
// with the block's read, write and error times and its quality. The dialog
// (CDataMonitorDlg) shows what this computes every two seconds.
#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "QORDriver.h"

// The line label built from a start address text: "DB10,100" gives the
// prefix "DB10," and base 100, "M100" gives "M" and 100, "DB10,100:3" keeps
// ":3" after the number. The user's text is never used as a format.
struct MonitorLabel {
    std::string prefix, word;
    bool hasNumber = false;
    long base = 0;

    static MonitorLabel Parse(const std::string &startAddress);
    // The label of the line whose first byte lies offset bytes into the block.
    std::string Format(long offset) const;
};

enum MonitorFormat { FormatByte, FormatChar, FormatHex, FormatDecimal, FormatWord, FormatFloat, FormatLong,
                     FormatDWord, FormatOctal, FormatAscii, FormatDigital, FormatCount };

struct MonitorFormatInfo {
    const char *name;
    int bits;          // width of one item
    int perLine;       // items per line
};
extern const MonitorFormatInfo MonitorFormats[FormatCount];

class CDataMonitor {
public:
    static const size_t BufferSize = 1024;
    static const char TitlePrefix[];  // "Data Monitor for "

    CDataMonitor(IQORDriver *server, LONG handle) : m_server(server), m_handle(handle) {}

    // The block's name, description, start address and sizes; the label.
    void Open();
    // The times and quality, then the bytes and the lines; false when the
    // bytes could not be read (the lines stay as they were).
    bool Refresh();

    // The lines of bytes in a format under a label.
    static std::vector<std::string> BuildLines(const unsigned char *bytes, size_t count, int format,
                                               const MonitorLabel &label);

    void SetFormat(int format) { m_format = (format >= 0 && format < FormatCount) ? format : 0; }
    int Format() const { return m_format; }
    std::string Title() const { return TitlePrefix + m_name; }
    const std::string &Name() const { return m_name; }
    const std::string &Description() const { return m_description; }
    const std::string &StartAddress() const { return m_startAddress; }
    const std::string &ReadTime() const { return m_readTime; }
    const std::string &WriteTime() const { return m_writeTime; }
    const std::string &ErrorTime() const { return m_errorTime; }
    const std::string &Quality() const { return m_quality; }
    const std::vector<std::string> &Lines() const { return m_lines; }
    size_t ValidBits() const { return m_validBits; }
    const MonitorLabel &Label() const { return m_label; }

    // A UTC VT_DATE as local time in whole seconds, as the VARIANT's text;
    // false for another type.
    static bool LocalTimeText(const VARIANT &value, std::string &text);

private:
    // One property by name; false when it could not be read.
    bool ReadProperty(const char *name, VARIANT &value);
    void ReadTimeInto(const char *name, std::string &field);

    IQORDriver *m_server;
    LONG m_handle;
    int m_format = FormatByte;
    int m_elementBits = 8;
    unsigned char m_buffer[BufferSize] = {};
    size_t m_validBits = 0;
    MonitorLabel m_label;
    std::string m_name, m_description, m_startAddress;
    std::string m_readTime, m_writeTime, m_errorTime, m_quality;
    std::vector<std::string> m_lines;
};
