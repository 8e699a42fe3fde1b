// SPDX-License-Identifier: MIT
#include "pixim_packet.h"

#include <cstdio>

#include "comm.h"

namespace {

constexpr uint8_t kAck = 0x01;
constexpr uint8_t kData = 0x02;
constexpr uint8_t kNak = 0x03;
constexpr uint8_t kError = 0x04;
// Stray input after an unknown type byte ends when the line stays quiet this
// long; a line that keeps sending is given up on as a time-out after the limit.
constexpr int kQuietMs = 100;
constexpr int kDiscardLimitMs = kByteTimeoutMs;

int timed_out() {
    moduleAnswerLost = true;
    std::puts("timeout PixErrorCodeInternalError");
    return PixErrorCodeInternalError;
}

uint8_t checksum_of(const uint8_t* bytes, int n, uint8_t sum = 0) {
    for (int i = 0; i < n; ++i) {
        sum = static_cast<uint8_t>(sum + bytes[i]);
    }
    return static_cast<uint8_t>(~sum);
}

// Reads exactly n bytes; a module that falls silent is reported here.
bool read_exact(uint8_t* buffer, uint16_t n) {
    if (commRead(buffer, n) == n) {
        return true;
    }
    timed_out();
    return false;
}

int receive_data(uint8_t* buffer, uint16_t expected) {
    uint8_t count = 0;
    if (!read_exact(&count, 1)) {
        return PixErrorCodeInternalError;
    }
    // The data is read as the module's count says, so that a response of
    // another size is consumed whole; only the expected size is a success.
    uint8_t data[256];
    uint8_t sum = 0;
    if (!read_exact(data, count) || !read_exact(&sum, 1)) {
        return PixErrorCodeInternalError;
    }
    if (count != expected) {
        return PixErrorCodeInternalError;
    }
    const uint8_t head[2] = {kData, count};
    if (sum != checksum_of(data, count, static_cast<uint8_t>(~checksum_of(head, 2)))) {
        std::puts("recvChksum PixErrorCodeInternalError");
        return PixErrorCodeInternalError;
    }
    for (uint16_t i = 0; i < expected && buffer != nullptr; ++i) {
        buffer[i] = data[i];
    }
    return PixErrorCodeSuccess;
}

int receive_error() {
    uint8_t bytes[2];
    if (!read_exact(bytes, 2)) {
        return PixErrorCodeInternalError;
    }
    const uint8_t head[2] = {kError, bytes[0]};
    if (bytes[1] == checksum_of(head, 2)) {
        std::printf("ec2 = %d\n", bytes[0]);
        return bytes[0];
    }
    std::puts("errChksum PixErrorCodeInternalError");
    std::printf("ec1 = %d\n", PixErrorCodeInternalError);
    return PixErrorCodeInternalError;
}

}  // namespace

int sendPacket(uint8_t command, const uint8_t* payload, uint8_t length) {
    uint8_t frame[2 + 255 + 1];
    frame[0] = command;
    frame[1] = length;
    for (int i = 0; i < length; ++i) {
        frame[2 + i] = payload[i];
    }
    frame[2 + length] = checksum_of(frame, 2 + length);
    // After a time-out, the next request waits until the line has been quiet
    // for a whole answer time: an answer up to that late is dropped, not
    // mistaken for the next one's.
    if (moduleAnswerLost) {
        commDiscardUntilQuiet(kByteTimeoutMs, kQuietLimitMs);
        moduleAnswerLost = false;
    }
    commDiscardPending();
    commWrite(frame, static_cast<uint16_t>(length + 3));
    return 0;
}

int recvResponse(uint8_t* buffer, uint16_t expected) {
    moduleAnswerLost = false;
    uint8_t type = 0;
    if (!read_exact(&type, 1)) {
        return PixErrorCodeInternalError;
    }
    switch (type) {
        case kAck:
            return PixErrorCodeSuccess;
        case kData:
            return receive_data(buffer, expected);
        case kNak:
            std::puts("NAK PixErrorCodeInternalError");
            return PixErrorCodeInternalError;
        case kError:
            return receive_error();
        default:
            if (!commDiscardUntilQuiet(kQuietMs, kDiscardLimitMs)) {
                return timed_out();
            }
            std::puts("default PixErrorCodeInternalError");
            return PixErrorCodeInternalError;
    }
}

bool exchangeTimedOut() {
    return moduleAnswerLost;
}
