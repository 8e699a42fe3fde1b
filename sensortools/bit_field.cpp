// SPDX-License-Identifier: MIT
#include "bit_field.h"

#include <cstring>

namespace {

// A run of decimal digits as scanf's %d reads it on the board: values past
// the 32-bit range saturate. Returns the character after the run, or nullptr
// when there is no digit.
const char* read_digits(const char* text, int32_t* out) {
    if (*text < '0' || *text > '9') {
        return nullptr;
    }
    int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > INT32_MAX) {
            value = INT32_MAX + int64_t{1};  // stays saturated, cannot overflow
        }
    }
    *out = value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value);
    return text;
}

// Bits lo..hi of a 16-bit word set; empty when lo is past bit 15.
uint16_t field_mask(bit_field field) {
    if (field.lsb >= 16) {
        return 0;
    }
    const int64_t width = int64_t{field.msb} - field.lsb + 1;
    const uint32_t low_bits = width >= 16 ? 0xFFFFU : (1U << width) - 1;
    return static_cast<uint16_t>(low_bits << field.lsb);
}

}  // namespace

bit_field_word parse_bit_field(const char* word, bit_field* field) {
    field->msb = -1;
    field->lsb = -1;
    if (word == nullptr || std::strchr(word, ':') == nullptr) {
        return bit_field_word::absent;
    }
    int32_t msb = 0;
    int32_t lsb = 0;
    const char* colon = read_digits(word, &msb);
    if (colon == nullptr || *colon != ':' || read_digits(colon + 1, &lsb) == nullptr || msb < lsb) {
        return bit_field_word::malformed;
    }
    field->msb = msb;
    field->lsb = lsb;
    return bit_field_word::field;
}

uint16_t extract_bit_field(uint16_t value, bit_field field) {
    if (field.lsb >= 16) {
        return 0;
    }
    return static_cast<uint16_t>((value & field_mask(field)) >> field.lsb);
}

uint16_t insert_bit_field(uint16_t old, uint16_t value, bit_field field) {
    const uint16_t mask = field_mask(field);
    const uint32_t shifted = field.lsb >= 16 ? 0 : uint32_t{value} << field.lsb;
    return static_cast<uint16_t>((old & ~mask) | (shifted & mask));
}
