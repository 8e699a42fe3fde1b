// SPDX-License-Identifier: MIT
// The register tools' number words against an independent reading of the
// same rules: strtol() base 0 in a 32-bit long, saturating. The input is one
// word (a NUL inside it ends the word, as in argv).
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "board_number.h"

namespace {

int digit_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'Z') {
        return c - 'A' + 10;
    }
    return 99;
}

// Leading white space, a sign, "0x" (only when a hexadecimal digit follows)
// or a leading 0 for octal, then digits of that base as far as they go.
int32_t reference_board_strtol(const char* p) {
    while (std::isspace(static_cast<unsigned char>(*p))) {
        ++p;
    }
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') {
        ++p;
    }
    int base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && digit_value(p[2]) < 16) {
        base = 16;
        p += 2;
    } else if (p[0] == '0') {
        base = 8;
    }
    int64_t magnitude = 0;  // saturates just past the 32-bit range
    for (; digit_value(*p) < base; ++p) {
        magnitude = magnitude * base + digit_value(*p);
        if (magnitude > int64_t{INT32_MAX} + 1) {
            magnitude = int64_t{INT32_MAX} + 1;
        }
    }
    if (negative) {
        return static_cast<int32_t>(-magnitude);  // -2^31 at most, which fits
    }
    return magnitude > INT32_MAX ? INT32_MAX : static_cast<int32_t>(magnitude);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string word(reinterpret_cast<const char*>(data), size);
    const int32_t value = board_strtol(word.c_str());
    if (value != reference_board_strtol(word.c_str()) ||
        board_unsigned(word.c_str()) != static_cast<uint32_t>(value)) {
        std::abort();
    }
    // A whole-word number reads as the same number.
    int32_t whole = 0;
    if (board_number_word(word.c_str(), &whole) && whole != value) {
        std::abort();
    }
    return 0;
}
