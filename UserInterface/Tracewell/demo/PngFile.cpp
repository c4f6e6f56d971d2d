#include "PngFile.h"
#include <cstdio>

namespace {

uint32_t Crc(const uint8_t *data, size_t length, uint32_t crc = 0)
{
    static uint32_t table[256];
    if (!table[1])
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
    crc = ~crc;
    for (size_t i = 0; i < length; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void Put32(std::vector<uint8_t> &out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(value >> shift));
}

void Chunk(std::vector<uint8_t> &out, const char *type, const std::vector<uint8_t> &data)
{
    Put32(out, uint32_t(data.size()));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    Put32(out, Crc(body.data(), body.size()));
}

// Deflate with the fixed code tables and greedy matches over a 32 KB
// window: the pictures are mostly runs and repeated rows.
class CBitWriter {
public:
    explicit CBitWriter(std::vector<uint8_t> &out) : m_out(out) {}
    void Put(uint32_t value, int bits)
    {
        for (int i = 0; i < bits; ++i)
            Bit((value >> i) & 1);
    }
    // Huffman codes go most significant bit first.
    void Code(uint32_t code, int bits)
    {
        for (int i = bits - 1; i >= 0; --i)
            Bit((code >> i) & 1);
    }
    void Flush()
    {
        if (m_count)
            m_out.push_back(m_byte);
        m_byte = 0;
        m_count = 0;
    }

private:
    void Bit(uint32_t bit)
    {
        m_byte |= uint8_t(bit << m_count);
        if (++m_count == 8)
            Flush();
    }
    std::vector<uint8_t> &m_out;
    uint8_t m_byte = 0;
    int m_count = 0;
};

void Literal(CBitWriter &bits, unsigned value)
{
    if (value < 144)
        bits.Code(0x30 + value, 8);
    else if (value < 256)
        bits.Code(0x190 + value - 144, 9);
    else if (value < 280)
        bits.Code(value - 256, 7);
    else
        bits.Code(0xC0 + value - 280, 8);
}

void Match(CBitWriter &bits, unsigned length, unsigned distance)
{
    static const unsigned lengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                            31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const int lengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                        2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    static const unsigned distanceBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                              33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                              1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    static const int distanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                          6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
    int l = 28;
    while (lengthBase[l] > length)
        --l;
    Literal(bits, 257 + l);
    bits.Put(length - lengthBase[l], lengthExtra[l]);
    int d = 29;
    while (distanceBase[d] > distance)
        --d;
    bits.Code(d, 5);
    bits.Put(distance - distanceBase[d], distanceExtra[d]);
}

void Deflate(const std::vector<uint8_t> &raw, std::vector<uint8_t> &out)
{
    const size_t window = 32768, longest = 258;
    std::vector<int64_t> last(1 << 16, -1);
    CBitWriter bits(out);
    bits.Put(1, 1);  // the only block
    bits.Put(1, 2);  // fixed codes
    size_t i = 0;
    while (i < raw.size()) {
        size_t length = 0, distance = 0;
        if (i + 3 <= raw.size()) {
            const unsigned hash = (raw[i] << 8 ^ raw[i + 1] << 4 ^ raw[i + 2]) & 0xFFFF;
            const int64_t candidate = last[hash];
            last[hash] = int64_t(i);
            if (candidate >= 0 && i - size_t(candidate) <= window) {
                const size_t limit = raw.size() - i < longest ? raw.size() - i : longest;
                while (length < limit && raw[size_t(candidate) + length] == raw[i + length])
                    ++length;
                distance = i - size_t(candidate);
            }
        }
        if (length >= 3) {
            Match(bits, unsigned(length), unsigned(distance));
            i += length;
        } else {
            Literal(bits, raw[i]);
            ++i;
        }
    }
    Literal(bits, 256);
    bits.Flush();
}

}  // namespace

bool WritePng(const std::string &path, int width, int height, const std::vector<uint8_t> &rgb)
{
    // Each row starts with filter byte 0.
    std::vector<uint8_t> raw;
    raw.reserve(size_t(height) * (width * 3 + 1));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), rgb.begin() + size_t(y) * width * 3, rgb.begin() + size_t(y + 1) * width * 3);
    }
    std::vector<uint8_t> z = {0x78, 0x01};
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    Deflate(raw, z);
    Put32(z, (b << 16) | a);

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<uint8_t> header;
    Put32(header, uint32_t(width));
    Put32(header, uint32_t(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});
    Chunk(png, "IHDR", header);
    Chunk(png, "IDAT", z);
    Chunk(png, "IEND", {});
    FILE *file = fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool ok = fwrite(png.data(), 1, png.size(), file) == png.size();
    return fclose(file) == 0 && ok;
}
