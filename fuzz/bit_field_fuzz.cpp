// SPDX-License-Identifier: MIT
// The msb:lsb word of the register tools and the field arithmetic behind it.
// Input: two bytes of old value, two of new value, then the field word.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bit_field.h"

namespace {

// Bit i of the field msb..lsb, as a plain loop.
bool in_field(int bit, bit_field f) {
    return bit >= f.lsb && bit <= f.msb;
}

void check_field_arithmetic(uint16_t old, uint16_t value, bit_field f) {
    const uint16_t merged = insert_bit_field(old, value, f);
    uint32_t expected_extract = 0;
    for (int bit = 15; bit >= 0; --bit) {
        const bool merged_bit = (merged >> bit) & 1;
        const bool old_bit = (old >> bit) & 1;
        if (!in_field(bit, f)) {
            if (merged_bit != old_bit) {
                std::abort();  // bits outside the field are kept
            }
            continue;
        }
        if (merged_bit != (((value >> (bit - f.lsb)) & 1) != 0)) {
            std::abort();  // field bits come from the value's low bits
        }
        expected_extract = expected_extract << 1 | ((old >> bit) & 1);
    }
    if (extract_bit_field(old, f) != expected_extract) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) {
        return 0;
    }
    const auto old = static_cast<uint16_t>(data[0] | data[1] << 8);
    const auto value = static_cast<uint16_t>(data[2] | data[3] << 8);
    const std::string word(reinterpret_cast<const char*>(data + 4), size - 4);

    bit_field f{};
    const bit_field_word kind = parse_bit_field(word.c_str(), &f);
    const bool has_colon = std::strchr(word.c_str(), ':') != nullptr;
    if ((kind == bit_field_word::absent) == has_colon) {
        std::abort();  // a word is a field word exactly when it has a ':'
    }
    if (kind != bit_field_word::field) {
        if (f.msb != -1 || f.lsb != -1) {
            std::abort();
        }
        return 0;
    }
    if (f.lsb < 0 || f.msb < f.lsb) {
        std::abort();
    }
    check_field_arithmetic(old, value, f);
    return 0;
}
