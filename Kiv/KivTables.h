// Oxley's fixed tables: the HMI error code of an OPC quality byte, the
// option names, and the bounded text copy every display export uses. Pure
// logic, no Windows headers.
#pragma once
#include <stdint.h>

// The HMI error code that kiv_read gives a value of this quality byte.
uint16_t KivHmiCodeOfQuality(uint8_t quality);

// True when the quality byte's bits 7-6 say good.
inline bool KivQualityGood(uint16_t quality) { return (quality & 0xC0) == 0xC0; }
inline unsigned KivSubstatus(uint16_t quality) { return (quality >> 2) & 0x0F; }
// Clears the quality and substatus bits (2-7), keeping the limit bits and the high byte.
inline void KivClearQuality(uint16_t *quality) { *quality = uint16_t(*quality & ~0xFCu); }

// One row of the option table; rows are searched in table order.
struct KivOption {
    const char *name;
    uint16_t code;       // VARIANT type the item is read and written as; 0 the block's type
    bool isSigned;
};
const KivOption *KivOptionTable(unsigned *count);
// The option word for name (empty: code 0), replacing the low 16 bits and the
// signed flag of *optionWord; false, word unchanged, for an unknown name.
bool KivParseOption(const char *name, uint32_t *optionWord);
// The option's name ("" for code 0); false with "" for a code no row has.
bool KivOptionName(uint32_t optionWord, const char **name);

// Copies at most size bytes into destination, the terminating NUL
// included: a text that does not fit is cut, never left unterminated.
// Nothing is written when size is not positive.
void KivCopyText(char *destination, int size, const char *source);
