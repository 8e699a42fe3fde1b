// SPDX-License-Identifier: MIT
// The frame loop: from the first dequeue to the reports of why it ended.
#pragma once

#include "capture_params.h"
#include "device_setup.h"
#include "multipart.h"
#include "out_file.h"

// What the loop works with. Each is opened before the loop and released
// after it by its owner; the loop only uses them.
struct frame_loop_io {
    capture_device device;      // streaming
    out_file* sink;             // NULL: frames go nowhere
    int pipe_fd;                // the peer's answers; -1: no peer
    part_header_buffer header;  // reserved with -mjpeg-http
};

// Runs until the frame count is used up, a stop signal or the peer's stop
// byte arrives, or an output or hand-off operation fails; then reports why
// it ended. The stop signals must be installed. Fatal failures end the
// program with status 1.
void run_frame_loop(const capture_params& params, const frame_loop_io& io);
