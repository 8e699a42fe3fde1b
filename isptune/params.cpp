// SPDX-License-Identifier: MIT
#include "params.h"

#include <cstring>

#include "pixim_commands.h"

const PixParam kParams[kParamCount] = {
    {0x2E, PixTypeU8, "--gamma", 0, 2, "gamma mode", false},
    {0x2F, PixTypeU8, "--gammavalue", 25, 100, "gamma value", false},
    {0x1A, PixTypeU8, "--range", 1, 2, "range mode", false},
    {0x1B, PixTypeU8, "--rangevalue", 0, 36, "range value", false},
    {0x8F, PixTypeU8, "--aepreference", 0, 1, "AEPreference mode", false},
    {0x30, PixTypeU8, "--dn", 1, 4, "day/night mode", false},
    {0x33, PixTypeU8, "--color", 0, 2, "color mode", false},
    {0x22, PixTypeU8, "--wb", 1, 3, "white balance mode", false},
    {0x23, PixTypeU8, "--wbmethod", 1, 2, "kelvin/rb white balance mode", false},
    {0x25, PixTypeS16, "--wbkelvin", 2000, 11000, "wb kelvun value", false},
    {0x26, PixTypeS16, "--wbred", -20, 20, "wb red value", true},
    {0x27, PixTypeS16, "--wbblue", -20, 20, "wb blue value", true},
    {0x12, PixTypeU8, "--iris", 0, 1, "iris mode", false},
    {0x15, PixTypeU8, "--irisgain", 0, 255, "DC auto iris gain", false},
    {0x16, PixTypeU8, "--irisoffset", 0, 255, "DC auto iris offset", false},
    {0x75, PixTypeS32, "--saturation", -8, 8, "saturation bias", true},
    {0x38, PixTypeS32, "--sharpness", -8, 8, "sharpness value", true},
    {0x0C, PixTypeU8, "--gain", 1, 2, "gain mode", false},
    {0x0F, PixTypeS8, "--gainvalue", -42, 60, "gain value", true},
};

const PixParam* paramByOption(const char* option) {
    for (const PixParam& param : kParams) {
        if (std::strcmp(param.option, option) == 0) {
            return &param;
        }
    }
    return nullptr;
}

// The type of every id isptune moves is its row's; any other id, the 0 of a
// command line without a parameter option included, is moved as an
// unsigned byte.
int paramTypeOf(uint16_t id) {
    for (const PixParam& param : kParams) {
        if (param.id == id) {
            return param.type;
        }
    }
    return PixTypeU8;
}

void valueToBuffer(int32_t value, int type, uint8_t* buffer) {
    switch (valueWidth(type)) {
        case 1:
            buffer[0] = static_cast<uint8_t>(value);
            break;
        case 2: {
            const auto word = static_cast<uint16_t>(value);
            std::memcpy(buffer, &word, 2);
            break;
        }
        default:
            std::memcpy(buffer, &value, 4);
            break;
    }
}

int32_t bufferToValue(int type, const uint8_t* buffer) {
    switch (type) {
        case PixTypeS8:
            return static_cast<int8_t>(buffer[0]);
        case PixTypeS16:
        case PixTypeU16: {
            int16_t word;
            std::memcpy(&word, buffer, 2);
            return type == PixTypeS16 ? word : static_cast<uint16_t>(word);
        }
        case PixTypeS32:
        case PixTypeU32: {
            int32_t word;
            std::memcpy(&word, buffer, 4);
            return word;
        }
        default:
            return buffer[0];
    }
}
