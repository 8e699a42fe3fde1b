// SPDX-License-Identifier: MIT
// msb:lsb bit fields of 16-bit register values.
#pragma once

#include <cstdint>

struct bit_field {
    int32_t msb;
    int32_t lsb;
};

enum class bit_field_word { absent, field, malformed };

// Reads a field word "msb:lsb": a run of decimal digits, ':', a run of
// digits, anything after that ignored; msb must not be below lsb. A word
// without ':' is no field word at all (it is the value that follows).
bit_field_word parse_bit_field(const char* word, bit_field* field);

// Bits msb..lsb of value, shifted down; bits above bit 15 read as 0.
uint16_t extract_bit_field(uint16_t value, bit_field field);

// old with bits msb..lsb replaced by the low bits of value; bits of the value
// that do not fit the field, and field bits above bit 15, are dropped.
uint16_t insert_bit_field(uint16_t old, uint16_t value, bit_field field);
