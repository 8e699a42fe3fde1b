// SPDX-License-Identifier: MIT
#include "pixim_commands.h"

#include <cstring>

#include "pixim_packet.h"

namespace {

constexpr uint8_t kSetProperty = 0x02;
constexpr uint8_t kGetProperty = 0x03;
constexpr uint8_t kOsdClearText = 0x44;

// The host-order value at `width` bytes, most significant byte first.
void to_big_endian(const uint8_t* value, int width, uint8_t* out) {
    if (width == 1) {
        out[0] = value[0];
    } else if (width == 2) {
        uint16_t word;
        std::memcpy(&word, value, 2);
        out[0] = static_cast<uint8_t>(word >> 8);
        out[1] = static_cast<uint8_t>(word);
    } else {
        uint32_t word;
        std::memcpy(&word, value, 4);
        for (int i = 0; i < 4; ++i) {
            out[i] = static_cast<uint8_t>(word >> (24 - 8 * i));
        }
    }
}

void from_big_endian(const uint8_t* in, int width, uint8_t* value) {
    if (width == 1) {
        value[0] = in[0];
    } else if (width == 2) {
        const auto word = static_cast<uint16_t>(in[0] * 256 + in[1]);
        std::memcpy(value, &word, 2);
    } else {
        const uint32_t word =
            uint32_t{in[0]} << 24 | uint32_t{in[1]} << 16 | uint32_t{in[2]} << 8 | in[3];
        std::memcpy(value, &word, 4);
    }
}

}  // namespace

int valueWidth(int type) {
    switch (type) {
        case PixTypeS16:
        case PixTypeU16:
            return 2;
        case PixTypeS32:
        case PixTypeU32:
            return 4;
        default:
            return 1;
    }
}

int SetProperty(uint16_t id, int type, const uint8_t* value) {
    uint8_t payload[6] = {static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id)};
    const int width = valueWidth(type);
    to_big_endian(value, width, payload + 2);
    sendPacket(kSetProperty, payload, static_cast<uint8_t>(2 + width));
    return recvResponse(nullptr, 0);
}

int GetProperty(uint16_t id, int type, uint8_t* value) {
    const uint8_t payload[2] = {static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id)};
    sendPacket(kGetProperty, payload, 2);
    const int width = valueWidth(type);
    uint8_t received[4] = {};
    const int result = recvResponse(received, static_cast<uint16_t>(width));
    if (result == PixErrorCodeSuccess) {
        from_big_endian(received, width, value);
    }
    return result;
}

int OsdClearText(uint8_t selector) {
    sendPacket(kOsdClearText, &selector, 1);
    return recvResponse(nullptr, 0);
}
