// SPDX-License-Identifier: MIT
// What the simulated driver keeps between opens and shares with every
// process that opens the device: format, time per frame, JPEG quality,
// controls and the buffers' count and length. It lives in
// $BOARDSIM_DIR/driver.state, mapped shared, so that a hand-off peer sees the
// format and buffers vcapture set up, and the next run the settings of the last.
#pragma once

#include <cstdint>

namespace boardsim {

inline constexpr uint32_t kMaxBuffers = 64 + 32;

// What the last dequeue of a buffer reported of its frame. A query of the
// buffer reports it again, from any process, as a driver does: a hand-off
// peer learns the frame's size and time stamp that way.
struct filled_buffer {
    uint32_t bytesused, sequence;
    int32_t tv_sec, tv_usec;
};

// The file's layout; the magic is "MXCV4L2".
struct driver_state {
    char magic[8];
    uint32_t width, height, pixfmt, bytesperline, sizeimage;
    uint32_t tpf_num, tpf_den;
    int32_t quality;
    int32_t rotate, awb, autogain;
    uint32_t buf_count, buf_length;
    filled_buffer filled[kMaxBuffers];  // by index; zero until first filled
};

// The driver's state, set to the driver's defaults when new; nullptr when
// its file cannot be mapped.
driver_state* driver();

}  // namespace boardsim
