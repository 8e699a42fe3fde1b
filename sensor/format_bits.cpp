// SPDX-License-Identifier: MIT
// Bit-pattern text of a register value, for the register tools' columns.
#include "format_bits.h"

uint16_t format_bits(uint16_t value, unsigned bits, char separator, char* out) {
    char* next = out;
    for (unsigned i = bits; i-- > 0;) {
        // Bits above the 16 of a register read as 0.
        *next++ = i < 16 && ((value >> i) & 1U) != 0 ? '1' : '0';
        if (separator != '\0' && i > 0 && i % 4 == 0) {
            *next++ = separator;
        }
    }
    *next = '\0';
    return value;
}
