// SPDX-License-Identifier: MIT
// The three commands isptune sends to the Pixim module.
#pragma once

#include <cstdint>

// Value type codes: the width of a value on the wire.
enum PixValueType : int {
    PixTypeS8 = 1,
    PixTypeU8 = 2,
    PixTypeS16 = 3,
    PixTypeU16 = 4,
    PixTypeS32 = 5,
    PixTypeU32 = 6,
};

int valueWidth(int type);

// `value` is a four-byte buffer holding the value at its type's width in
// host byte order.
int SetProperty(uint16_t id, int type, const uint8_t* value);
int GetProperty(uint16_t id, int type, uint8_t* value);
int OsdClearText(uint8_t selector);
