// SPDX-License-Identifier: MIT
// The nineteen image properties isptune moves, in configuration-file order.
#pragma once

#include <cstdint>

struct PixParam {
    uint16_t id;
    int type;            // value type code
    const char* option;  // command-line option
    int min;             // accepted range of the option, inclusive
    int max;
    const char* echo;     // printed as "echo = value" when the option takes a value
    bool offset_encoded;  // negative values stored as 100 - v in the files
};

inline constexpr int kParamCount = 19;
extern const PixParam kParams[kParamCount];

// The row of a command-line option, or nullptr.
const PixParam* paramByOption(const char* option);

int paramTypeOf(uint16_t id);
// Puts a signed integer into a four-byte value buffer at the type's width.
void valueToBuffer(int32_t value, int type, uint8_t* buffer);
// The signed integer a value buffer holds.
int32_t bufferToValue(int type, const uint8_t* buffer);
