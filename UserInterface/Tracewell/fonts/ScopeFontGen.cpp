// Writes the data monitor's two bitmap fonts as Windows font resource files
// (a 16-bit "NE" library holding one raster font resource):
//   HEXFNT.FON   face "hexfnt":  each byte value as two small hex digits in one cell
//   COMMFNT.FON  face "commfnt": printable characters, a centred dot for every
//                byte without a printable form
// Both are 10 x 13 pixel cells, 11 pixels from ascent to the top of the
// internal leading, weight 700, OEM character set, so the view's request
// (height -11, weight 700, OEM) finds them exactly.
// Built and run on the build machine; plain C++ without Windows headers.
// Usage: scope_fontgen OUTPUT_FOLDER
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const int CellWidth = 10, CellHeight = 13, Ascent = 10, InternalLeading = 2;

using Bytes = std::vector<uint8_t>;
// One glyph: CellHeight rows, bit 15 = leftmost pixel.
using Glyph = std::vector<uint16_t>;
// Bytes of one row of glyph pixels (columns of 8 pixels each).
const int Pitch = (CellWidth + 7) / 8;

void Put16(Bytes &out, size_t at, unsigned value)
{
    out[at] = uint8_t(value);
    out[at + 1] = uint8_t(value >> 8);
}

void Put32(Bytes &out, size_t at, unsigned long value)
{
    for (int i = 0; i < 4; ++i)
        out[at + i] = uint8_t(value >> (8 * i));
}

// 5 x 7 characters 0x20..0x7E, one row per value, bit 4 = leftmost pixel.
const uint8_t Characters[95][7] = {
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, {0x04, 0x04, 0x04, 0x04, 0x04, 0x00, 0x04},
    {0x0A, 0x0A, 0x0A, 0x00, 0x00, 0x00, 0x00}, {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A},
    {0x04, 0x0F, 0x14, 0x0E, 0x05, 0x1E, 0x04}, {0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03},
    {0x0C, 0x12, 0x14, 0x08, 0x15, 0x12, 0x0D}, {0x0C, 0x04, 0x08, 0x00, 0x00, 0x00, 0x00},
    {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}, {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08},
    {0x00, 0x04, 0x15, 0x0E, 0x15, 0x04, 0x00}, {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00},
    {0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08}, {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00},
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}, {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00},
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
    {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}, {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x04, 0x08},
    {0x02, 0x04, 0x08, 0x10, 0x08, 0x04, 0x02}, {0x00, 0x00, 0x1F, 0x00, 0x1F, 0x00, 0x00},
    {0x08, 0x04, 0x02, 0x01, 0x02, 0x04, 0x08}, {0x0E, 0x11, 0x01, 0x02, 0x04, 0x00, 0x04},
    {0x0E, 0x11, 0x01, 0x0D, 0x15, 0x15, 0x0E}, {0x0E, 0x11, 0x11, 0x11, 0x1F, 0x11, 0x11},
    {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}, {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E},
    {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}, {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F},
    {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}, {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F},
    {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}, {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}, {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11},
    {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}, {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11},
    {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}, {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E},
    {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}, {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D},
    {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}, {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E},
    {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}, {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E},
    {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}, {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A},
    {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}, {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04},
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}, {0x0E, 0x08, 0x08, 0x08, 0x08, 0x08, 0x0E},
    {0x00, 0x10, 0x08, 0x04, 0x02, 0x01, 0x00}, {0x0E, 0x02, 0x02, 0x02, 0x02, 0x02, 0x0E},
    {0x04, 0x0A, 0x11, 0x00, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1F},
    {0x08, 0x04, 0x02, 0x00, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x0E, 0x01, 0x0F, 0x11, 0x0F},
    {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x1E}, {0x00, 0x00, 0x0E, 0x10, 0x10, 0x11, 0x0E},
    {0x01, 0x01, 0x0D, 0x13, 0x11, 0x11, 0x0F}, {0x00, 0x00, 0x0E, 0x11, 0x1F, 0x10, 0x0E},
    {0x06, 0x09, 0x08, 0x1C, 0x08, 0x08, 0x08}, {0x00, 0x0F, 0x11, 0x11, 0x0F, 0x01, 0x0E},
    {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x11}, {0x04, 0x00, 0x0C, 0x04, 0x04, 0x04, 0x0E},
    {0x02, 0x00, 0x06, 0x02, 0x02, 0x12, 0x0C}, {0x10, 0x10, 0x12, 0x14, 0x18, 0x14, 0x12},
    {0x0C, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}, {0x00, 0x00, 0x1A, 0x15, 0x15, 0x11, 0x11},
    {0x00, 0x00, 0x16, 0x19, 0x11, 0x11, 0x11}, {0x00, 0x00, 0x0E, 0x11, 0x11, 0x11, 0x0E},
    {0x00, 0x00, 0x1E, 0x11, 0x1E, 0x10, 0x10}, {0x00, 0x00, 0x0D, 0x13, 0x0F, 0x01, 0x01},
    {0x00, 0x00, 0x16, 0x19, 0x10, 0x10, 0x10}, {0x00, 0x00, 0x0E, 0x10, 0x0E, 0x01, 0x1E},
    {0x08, 0x08, 0x1C, 0x08, 0x08, 0x09, 0x06}, {0x00, 0x00, 0x11, 0x11, 0x11, 0x13, 0x0D},
    {0x00, 0x00, 0x11, 0x11, 0x11, 0x0A, 0x04}, {0x00, 0x00, 0x11, 0x11, 0x15, 0x15, 0x0A},
    {0x00, 0x00, 0x11, 0x0A, 0x04, 0x0A, 0x11}, {0x00, 0x00, 0x11, 0x11, 0x0F, 0x01, 0x0E},
    {0x00, 0x00, 0x1F, 0x02, 0x04, 0x08, 0x1F}, {0x02, 0x04, 0x04, 0x08, 0x04, 0x04, 0x02},
    {0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}, {0x08, 0x04, 0x04, 0x02, 0x04, 0x04, 0x08},
    {0x00, 0x00, 0x08, 0x15, 0x02, 0x00, 0x00},
};

// 3 x 5 hex digits, bit 2 = leftmost pixel; drawn 7 rows tall (rows 1 and 3 twice).
const uint8_t Digits[16][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1}, {7, 4, 7, 1, 7},
    {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}, {2, 5, 7, 5, 5}, {6, 5, 6, 5, 6},
    {3, 4, 4, 4, 3}, {6, 5, 5, 5, 6}, {7, 4, 6, 4, 7}, {7, 4, 6, 4, 4},
};

// Glyph rows 3..9 hold the 7-row shapes: their bottom sits on the baseline.
const int Top = Ascent - 7;

Glyph CharGlyph(unsigned code)
{
    Glyph glyph(CellHeight, 0);
    if (code >= 0x20 && code < 0x7F) {
        for (int row = 0; row < 7; ++row) {
            // Columns 2..6 of the cell, and bold: each stroke one pixel wider.
            const uint16_t bits = uint16_t(Characters[code - 0x20][row] << 9);
            glyph[Top + row] = uint16_t(bits | (bits >> 1));
        }
    } else {
        // A centred dot marks a byte without a printable form.
        glyph[6] = glyph[7] = 0x0C00;
    }
    return glyph;
}

Glyph HexGlyph(unsigned code)
{
    static const int rowOf[7] = {0, 1, 1, 2, 3, 3, 4};
    Glyph glyph(CellHeight, 0);
    for (int row = 0; row < 7; ++row) {
        const unsigned high = Digits[code >> 4][rowOf[row]];
        const unsigned low = Digits[code & 15][rowOf[row]];
        // Digits in columns 1..3 and 5..7: one pixel between the two digits
        // of a byte, three between bytes.
        glyph[Top + row] = uint16_t((high << 12) | (low << 8));
    }
    return glyph;
}

// The raster font resource (version 2.0 layout): header, character table,
// Pitch columns of bytes per glyph (8 pixels each, left first), face name.
Bytes FontResource(const std::string &face, Glyph (*glyphOf)(unsigned))
{
    const size_t headerSize = 118, entries = 257, table = entries * 4;
    const size_t bitsOffset = headerSize + table;
    const size_t glyphBytes = size_t(Pitch) * CellHeight;
    const size_t faceOffset = bitsOffset + entries * glyphBytes;
    Bytes fnt(faceOffset + face.size() + 1, 0);
    Put16(fnt, 0, 0x0200);
    Put32(fnt, 2, fnt.size());
    const char copyright[] = "Veltrane QOR data monitor font";
    for (size_t i = 0; i < sizeof(copyright) - 1; ++i)
        fnt[6 + i] = uint8_t(copyright[i]);
    Put16(fnt, 66, 0);                     // raster
    Put16(fnt, 68, 8);                     // points at 96 dpi: 11 pixels
    Put16(fnt, 70, 96);
    Put16(fnt, 72, 96);
    Put16(fnt, 74, Ascent);
    Put16(fnt, 76, InternalLeading);
    Put16(fnt, 78, 0);                     // external leading
    Put16(fnt, 83, 700);                   // weight
    fnt[85] = 255;                         // OEM character set
    Put16(fnt, 86, CellWidth);             // fixed pitch
    Put16(fnt, 88, CellHeight);
    fnt[90] = 0x30;                        // FF_MODERN, fixed pitch (bit 0 clear)
    Put16(fnt, 91, CellWidth);
    Put16(fnt, 93, CellWidth);
    fnt[95] = 0;                           // first character
    fnt[96] = 255;                         // last character
    fnt[97] = 0;                           // default character
    fnt[98] = 0x20;                        // break character
    Put16(fnt, 99, entries * Pitch);       // bytes per row of the strike
    Put32(fnt, 101, 0);                    // no device name
    Put32(fnt, 105, faceOffset);
    Put32(fnt, 113, bitsOffset);
    for (unsigned code = 0; code < entries; ++code) {
        Put16(fnt, headerSize + code * 4, CellWidth);
        Put16(fnt, headerSize + code * 4 + 2, bitsOffset + code * glyphBytes);
        const Glyph glyph = glyphOf(code < 256 ? code : 0x20);
        for (int column = 0; column < Pitch; ++column)
            for (int row = 0; row < CellHeight; ++row)
                fnt[bitsOffset + code * glyphBytes + column * CellHeight + row] =
                    uint8_t(glyph[row] >> (8 - 8 * column));
    }
    for (size_t i = 0; i < face.size(); ++i)
        fnt[faceOffset + i] = uint8_t(face[i]);
    return fnt;
}

void Align(Bytes &out, size_t unit)
{
    while (out.size() % unit)
        out.push_back(0);
}

void Append16(Bytes &out, unsigned value)
{
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}

void AppendName(Bytes &out, const std::string &name)
{
    out.push_back(uint8_t(name.size()));
    out.insert(out.end(), name.begin(), name.end());
}

// The font directory entry: the resource header up to its face offset and
// reserved field, then the device and face names.
Bytes FontDirectory(const Bytes &fnt, const std::string &face)
{
    Bytes dir;
    Append16(dir, 1);     // one font
    Append16(dir, 1);     // its ordinal
    dir.insert(dir.end(), fnt.begin(), fnt.begin() + 113);
    dir.push_back(0);     // no device name
    dir.insert(dir.end(), face.begin(), face.end());
    dir.push_back(0);
    return dir;
}

// A 16-bit library holding the font directory and the font.
Bytes FontLibrary(const std::string &module, const std::string &face, const Bytes &fnt)
{
    const unsigned shift = 4;  // resource offsets in 16-byte units
    const size_t neOffset = 0x40;
    Bytes file(neOffset + 0x40, 0);
    file[0] = 'M';
    file[1] = 'Z';
    Put32(file, 0x3C, neOffset);

    // Tables after the 64-byte header, offsets relative to it.
    const size_t resourceTable = file.size() - neOffset;
    Append16(file, shift);
    const size_t dirEntry = file.size();
    Append16(file, 0x8007);  // RT_FONTDIR
    Append16(file, 1);
    file.insert(file.end(), 4, 0);
    file.insert(file.end(), 12, 0);
    const size_t fontEntry = file.size();
    Append16(file, 0x8008);  // RT_FONT
    Append16(file, 1);
    file.insert(file.end(), 4, 0);
    file.insert(file.end(), 12, 0);
    Append16(file, 0);       // end of types
    file.push_back(0);       // no resource names
    const size_t residentNames = file.size() - neOffset;
    AppendName(file, module);
    Append16(file, 0);
    file.push_back(0);
    const size_t moduleRefs = file.size() - neOffset;
    const size_t importedNames = moduleRefs;
    file.push_back(0);
    const size_t entryTable = file.size() - neOffset;
    Append16(file, 0);
    const size_t nonResident = file.size();
    AppendName(file, "FONTRES 100,96,96 : " + face + " 8");
    Append16(file, 0);
    file.push_back(0);
    const size_t nonResidentSize = file.size() - nonResident;

    // The resources, each on a 16-byte boundary.
    const Bytes dir = FontDirectory(fnt, face);
    const struct {
        size_t entry;
        const Bytes *data;
        unsigned flags;
        unsigned id;
    } resources[] = {{dirEntry, &dir, 0x0C50, 0x8001}, {fontEntry, &fnt, 0x1C30, 0x8001}};
    for (const auto &resource : resources) {
        Align(file, size_t(1) << shift);
        const size_t at = file.size();
        file.insert(file.end(), resource.data->begin(), resource.data->end());
        Align(file, size_t(1) << shift);
        const size_t info = resource.entry + 8;
        Put16(file, info, unsigned(at >> shift));
        Put16(file, info + 2, unsigned((file.size() - at) >> shift));
        Put16(file, info + 4, resource.flags);
        Put16(file, info + 6, resource.id);
    }

    // The header.
    file[neOffset] = 'N';
    file[neOffset + 1] = 'E';
    file[neOffset + 2] = 5;                             // linker version
    Put16(file, neOffset + 0x04, entryTable);
    Put16(file, neOffset + 0x06, 2);
    Put16(file, neOffset + 0x0C, 0x8000);               // library module
    Put16(file, neOffset + 0x20, nonResidentSize);
    Put16(file, neOffset + 0x22, 0x40);                 // no segments
    Put16(file, neOffset + 0x24, resourceTable);
    Put16(file, neOffset + 0x26, residentNames);
    Put16(file, neOffset + 0x28, moduleRefs);
    Put16(file, neOffset + 0x2A, importedNames);
    Put32(file, neOffset + 0x2C, nonResident);
    Put16(file, neOffset + 0x32, shift);
    file[neOffset + 0x36] = 2;                          // Windows
    Put16(file, neOffset + 0x3E, 0x0300);               // Windows 3.0
    return file;
}

bool Write(const std::string &path, const Bytes &data)
{
    FILE *file = fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool ok = fwrite(data.data(), 1, data.size(), file) == data.size();
    return fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: scope_fontgen OUTPUT_FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    const bool ok = Write(folder + "/HEXFNT.FON", FontLibrary("HEXFNT", "hexfnt", FontResource("hexfnt", HexGlyph))) &&
                    Write(folder + "/COMMFNT.FON",
                          FontLibrary("COMMFNT", "commfnt", FontResource("commfnt", CharGlyph)));
    if (!ok)
        fprintf(stderr, "scope_fontgen: cannot write into %s\n", folder.c_str());
    return ok ? 0 : 1;
}
