// SPDX-License-Identifier: MIT
// Locating the JPEG image in a capture buffer.
#pragma once

#include <cstdint>

// Offset of the first 0xFF among buf[0..n-1] that is followed by `marker`,
// or -1. The byte after each candidate is read, so pass one less than the
// bytes available.
int find_jpeg_marker(const uint8_t* buf, uint8_t marker, int n);

enum class jpeg_search { found, no_start, no_end };

// Finds the image from its start marker through its end marker. The end is
// at the payload's end if the payload ends with one, else the first end
// marker after the start. The whole mapping is searched; bytesused must not
// exceed length.
jpeg_search find_jpeg_image(const uint8_t* buf, uint32_t length, uint32_t bytesused,
                            uint32_t* start, uint32_t* size);
