// SPDX-License-Identifier: MIT
// The simulated sensor's pictures: YUV 4:2:0 and grey test patterns and
// baseline JPEG images of them. Every frame carries its sequence number in
// its pixels: 32 blocks across the top band, most significant bit first,
// light for 1 and dark for 0.
#pragma once

#include <cstdint>

namespace boardsim {

struct frame_geometry {
    uint32_t width;
    uint32_t height;
    uint32_t pixfmt;  // YU12, GREY or JPEG
};

// Renders frame `seq` into dst (capacity bytes). For JPEG, `jpeg_size`
// non-zero pads (or shrinks) the image to exactly that many bytes.
// Returns the bytes used.
uint32_t render_frame(const frame_geometry& g, uint32_t seq, int quality, uint32_t jpeg_size,
                      uint8_t* dst, uint32_t capacity);

// The height of the band that carries the sequence number.
uint32_t sequence_band_height(uint32_t height);

}  // namespace boardsim
