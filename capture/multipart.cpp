// SPDX-License-Identifier: MIT
#include "multipart.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "xalloc.h"

namespace {
// Room for the fixed text of a part header, the three numbers at their
// widest, and the terminating NUL.
constexpr size_t kHeaderRoom = 172;

size_t formatted_length(int n, size_t limit) {
    if (n < 0) {
        return 0;
    }
    return static_cast<size_t>(n) < limit ? static_cast<size_t>(n) : limit;
}
}  // namespace

size_t part_header_buffer_size(const char* boundary) {
    return kHeaderRoom + std::strlen(boundary);
}

part_header_buffer reserve_part_header_buffer(const char* boundary) {
    if (boundary == nullptr) {
        return {nullptr, 0};
    }
    const size_t size = part_header_buffer_size(boundary);
    return {static_cast<char*>(xmalloc(size)), size};
}

void release_part_header_buffer(part_header_buffer* buffer) {
    std::free(buffer->text);
    *buffer = {nullptr, 0};
}

size_t format_part_header(char* buffer, size_t size, const char* boundary, size_t length,
                          int64_t t_dq_usec) {
    const auto usec = static_cast<uint64_t>(t_dq_usec);
    // The microseconds are a plain number, not padded: 5 us is ".5".
    const int formatted =
        std::snprintf(buffer, size - 1,
                      "--%s\r\nContent-Type: image/jpeg\r\nContent-Length: %zu\r\n"
                      "X-Timestamp: %lu.%lu\r\n\r\n",
                      boundary, length, static_cast<unsigned long>(usec / 1000000),
                      static_cast<unsigned long>(usec % 1000000));
    return formatted_length(formatted, size - 2);
}

size_t format_closing_boundary(char* buffer, size_t size, const char* boundary) {
    const int formatted = std::snprintf(buffer, size - 1, "--%s--\r\n\r\n", boundary);
    return formatted_length(formatted, size - 2);
}
