// SPDX-License-Identifier: MIT
// Bit-pattern text of a register value, for the register tools' columns.
#pragma once

#include <cstdint>

// Writes the low `bits` bits of `value` as '0'/'1' text into `out`, most
// significant first, with `separator` (unless NUL) between groups of four
// counted from the least significant bit. Returns `value`.
// `out` must hold bits + (bits - 1) / 4 + 1 characters.
uint16_t format_bits(uint16_t value, unsigned bits, char separator, char* out);
