// SPDX-License-Identifier: MIT
// The MJPEG multipart body: one part per JPEG image, each with its header,
// and the closing boundary at the end of the stream.
#pragma once

#include <cstddef>
#include <cstdint>

// Size of the buffer that holds any part header or closing boundary for
// this boundary; reserved once before the frame loop.
size_t part_header_buffer_size(const char* boundary);

// The one buffer for every part header and the closing boundary of a run,
// reserved before the frame loop so that the loop allocates nothing.
struct part_header_buffer {
    char* text;
    size_t size;
};
// Reserves the buffer for `boundary`; without a boundary (NULL) it stays
// empty.
part_header_buffer reserve_part_header_buffer(const char* boundary);
void release_part_header_buffer(part_header_buffer* buffer);

// Formats a part header for an image of `length` bytes dequeued at
// `t_dq_usec` microseconds since the epoch. Returns the header's length.
size_t format_part_header(char* buffer, size_t size, const char* boundary, size_t length,
                          int64_t t_dq_usec);

// Formats the closing boundary. Returns its length.
size_t format_closing_boundary(char* buffer, size_t size, const char* boundary);
