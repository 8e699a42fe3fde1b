// SPDX-License-Identifier: MIT
// The MJPEG part header and closing boundary, in a buffer of the size the
// frame loop reserves for the boundary. Input: eight bytes of image length,
// eight of dequeue time, the rest the boundary (as given on the command line,
// so up to its first NUL). The text must come out whole and exact.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "multipart.h"

namespace {

void check_formatted(const char* buffer, size_t n, const std::string& expected) {
    if (n != expected.size() || std::strlen(buffer) != n || expected != buffer) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 16) {
        return 0;
    }
    uint64_t length = 0;
    int64_t t_dq_usec = 0;
    std::memcpy(&length, data, 8);
    std::memcpy(&t_dq_usec, data + 8, 8);
    const std::string boundary_word(reinterpret_cast<const char*>(data + 16), size - 16);
    const char* boundary = boundary_word.c_str();

    const size_t room = part_header_buffer_size(boundary);
    const auto buffer = std::make_unique<char[]>(room);
    const auto usec = static_cast<uint64_t>(t_dq_usec);
    const size_t n = format_part_header(buffer.get(), room, boundary, length, t_dq_usec);
    check_formatted(
        buffer.get(), n,
        std::string("--") + boundary + "\r\nContent-Type: image/jpeg\r\nContent-Length: " +
            std::to_string(length) + "\r\nX-Timestamp: " + std::to_string(usec / 1000000) + "." +
            std::to_string(usec % 1000000) + "\r\n\r\n");

    const size_t m = format_closing_boundary(buffer.get(), room, boundary);
    check_formatted(buffer.get(), m, std::string("--") + boundary + "--\r\n\r\n");
    return 0;
}
