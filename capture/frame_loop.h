// The frame loop and the orderly shut-down after it.
#pragma once

#include "capture_params.h"
#include "device_setup.h"
#include "out_file.h"

// Runs until the frame count is used up, a stop signal or the peer's stop
// byte arrives, or an output or hand-off operation fails; then shuts down in
// order and closes the sink. Fatal failures end the program with status 1.
void run_frame_loop(const capture_params& params, capture_device device, out_file* sink,
                    int pipe_fd);
