// SPDX-License-Identifier: MIT
// Number words of the register tools, read the way the board reads them.
#pragma once

#include <cstdint>

// strtol() with base 0 (decimal, 0x hexadecimal, 0 octal, optional sign,
// trailing text ignored) in the board's 32-bit long: values beyond its range
// saturate, exactly as on the board, whatever the host's long is.
int32_t board_strtol(const char* text);

// The same number as the tools compare and print it: unsigned 32 bits, so
// that -1 is 4294967295.
inline uint32_t board_unsigned(const char* text) {
    return static_cast<uint32_t>(board_strtol(text));
}

// The same reading of a word that must be wholly a number: leading blanks
// and a sign are allowed, anything after the digits is not. False for an
// empty word or one with trailing text; *value is then left alone.
bool board_number_word(const char* text, int32_t* value);
