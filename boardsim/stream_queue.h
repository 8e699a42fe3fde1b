// SPDX-License-Identifier: MIT
// This process's side of the stream, which other processes do not share:
// whether it runs, the buffers the client queued (in order), the stream's
// clock, and this process's mapping of the buffers file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "board_abi.h"
#include "driver_state.h"

namespace boardsim {

// Every buffer's time stamp is taken from the monotonic clock when the frame
// is complete, and a driver says so in each buffer's flags.
inline constexpr uint32_t kTimestampFlags = abi::kBufFlagTimestampMonotonic;

struct process_stream {
    bool streaming = false;
    uint32_t queue[kMaxBuffers];  // FIFO of queued indices
    uint32_t head = 0;            // the oldest queued
    uint32_t size = 0;
    bool queued[kMaxBuffers] = {};
    uint32_t next_seq = 0;
    timespec t0{};  // when streaming started: frame n is due t0 + n frame times
    int buffers_fd = -1;
    uint8_t* buffers = nullptr;
    size_t buffers_size = 0;
};
extern process_stream g_stream;

// Every queued buffer is forgotten (new buffers, stream off, owner gone).
void forget_queued_buffers();

}  // namespace boardsim
