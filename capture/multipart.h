// The MJPEG multipart body: one part per JPEG image, each with its header,
// and the closing boundary at the end of the stream.
#pragma once

#include <cstddef>
#include <cstdint>

// Size of the buffer that holds any part header or closing boundary for
// this boundary; reserved once before the frame loop.
size_t part_header_buffer_size(const char* boundary);

// Formats a part header for an image of `length` bytes dequeued at
// `t_dq_usec` microseconds since the epoch. Returns the header's length.
size_t format_part_header(char* buffer, size_t size, const char* boundary, size_t length,
                          int64_t t_dq_usec);

// Formats the closing boundary. Returns its length.
size_t format_closing_boundary(char* buffer, size_t size, const char* boundary);
