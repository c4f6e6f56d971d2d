// Writes 24-bit pictures as PNG files (our own small deflate: no compression
// library needed) for the screenshots.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// rgb holds width x height pixels, 3 bytes each, top row first.
bool WritePng(const std::string &path, int width, int height, const std::vector<uint8_t> &rgb);
