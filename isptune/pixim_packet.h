// SPDX-License-Identifier: MIT
// Framing of the Pixim module's request/response protocol.
#pragma once

#include <cstdint>

// 0 is success; the program's own protocol faults are
// PixErrorCodeInternalError; any other value is the module's error code.
enum PixErrorCode : int {
    PixErrorCodeSuccess = 0,
    PixErrorCodeInternalError = 2,
};

// Sends command, payload length, payload and checksum in one write. Input
// that arrived before the request is dropped, since it cannot be its answer;
// after a time-out the line is first left to fall quiet, so that a late
// answer to the earlier request is not taken for this one.
int sendPacket(uint8_t command, const uint8_t* payload, uint8_t length);
// Reads one response; a data response must carry exactly `expected` bytes,
// which land in `buffer`.
int recvResponse(uint8_t* buffer, uint16_t expected);
// Whether the last response was lost to a time-out: the module fell silent,
// or the line would not fall quiet after an answer of unknown type.
bool exchangeTimedOut();
