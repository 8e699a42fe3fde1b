// SPDX-License-Identifier: MIT
// isptune's reader of the module's responses, fed through a pipe as the
// module link would feed it. Input: one byte choosing the expected data size
// (0, 1, 2 or 4, the sizes isptune asks for), then the bytes on the line;
// the line closes after them. The outcome, the data handed back and the
// bytes consumed must match a plain reading of the framing.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "comm.h"
#include "pixim_packet.h"

namespace {

constexpr uint16_t kExpectedSizes[] = {0, 1, 2, 4};

struct reading {
    int result;
    size_t consumed;
    std::vector<uint8_t> data;  // what a successful data response delivers
};

uint8_t complement_of_sum(const uint8_t* bytes, size_t n) {
    uint8_t sum = 0;
    for (size_t i = 0; i < n; ++i) {
        sum = static_cast<uint8_t>(sum + bytes[i]);
    }
    return static_cast<uint8_t>(~sum);
}

reading read_data(const uint8_t* line, size_t size, uint16_t expected) {
    if (size < 2 || size < size_t{line[1]} + 3) {
        return {PixErrorCodeInternalError, size, {}};
    }
    const uint8_t count = line[1];
    const size_t whole = size_t{count} + 3;
    if (count != expected || line[whole - 1] != complement_of_sum(line, whole - 1)) {
        return {PixErrorCodeInternalError, whole, {}};
    }
    return {PixErrorCodeSuccess, whole, {line + 2, line + 2 + count}};
}

reading reference_read(const uint8_t* line, size_t size, uint16_t expected) {
    if (size == 0) {
        return {PixErrorCodeInternalError, 0, {}};
    }
    switch (line[0]) {
        case 0x01:
            return {PixErrorCodeSuccess, 1, {}};
        case 0x02:
            return read_data(line, size, expected);
        case 0x03:
            return {PixErrorCodeInternalError, 1, {}};
        case 0x04:
            if (size < 3) {
                return {PixErrorCodeInternalError, size, {}};
            }
            return {
                line[2] == complement_of_sum(line, 2) ? line[1] : PixErrorCodeInternalError, 3, {}};
        default:  // stray bytes are drained until the line is quiet
            return {PixErrorCodeInternalError, size, {}};
    }
}

size_t drain(int fd) {
    size_t left = 0;
    uint8_t scratch[512];
    ssize_t n;
    while ((n = read(fd, scratch, sizeof scratch)) > 0) {
        left += static_cast<size_t>(n);
    }
    return left;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A pipe holds far more than this without blocking the writer.
    if (size < 1 || size > 4096) {
        return 0;
    }
    const uint16_t expected = kExpectedSizes[data[0] % 4];
    const uint8_t* line = data + 1;
    const size_t line_size = size - 1;

    int ends[2];
    if (pipe(ends) != 0 || write(ends[1], line, line_size) != static_cast<ssize_t>(line_size)) {
        std::abort();
    }
    close(ends[1]);
    cssl_port port{};
    port.fd = ends[0];
    modulePort = &port;

    // Sized exactly, so that a write past the expected bytes is caught.
    const auto buffer = std::make_unique<uint8_t[]>(expected);
    const int result = recvResponse(expected > 0 ? buffer.get() : nullptr, expected);
    const size_t left = drain(ends[0]);
    close(ends[0]);
    modulePort = nullptr;

    const reading want = reference_read(line, line_size, expected);
    if (result != want.result || line_size - left != want.consumed) {
        std::abort();
    }
    if (result == PixErrorCodeSuccess && line[0] == 0x02 && expected > 0 &&
        std::memcmp(buffer.get(), want.data.data(), expected) != 0) {
        std::abort();
    }
    return 0;
}
