// The OPC quality text of a data block's status: quality, substatus and
// limit in words, as clients and the statistics panes show them.
#pragma once
#include <string>

// Stands for a status that carries no quality at all.
const int NoQuality = -1;

// The text of the quality byte (0-255), or "Unknown" for NoQuality (or any
// value outside a byte). Answers 1, or 0 with text empty when no text
// applies (qualities 128 to 191).
int GetQualityText(int quality, std::string &text);
