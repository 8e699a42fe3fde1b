// SPDX-License-Identifier: MIT
// vcapture's run settings, filled once from the command line and read-only
// afterwards.
#pragma once

#include <cstdint>

#include "sensor_device.h"
#include "v4l2_requests.h"

struct capture_params {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t crop[4] = {0, 0, 0, 0};  // w, h, x, y: kept, not applied to the device
    int rotate = 0;
    uint32_t fps_num = 0;  // 0: no frame rate requested
    uint32_t fps_denom = 0;
    uint32_t pixfmt = V4L2_PIX_FMT_YUV420;  // little-endian fourcc
    int qscale = 0;                         // 0: leave the device's JPEG quality
    int ae = 0;
    int awb = 0;
    int count = -1;  // iterations still allowed; -1: unlimited
    int skip = 0;    // keep one frame of every `skip`
    const char* out = nullptr;
    const char* pipe = nullptr;
    const char* mjpeg_http = nullptr;
    int bufs = 2;
    int delay = 0;
    int early_qbuf = 0;
    int poll = 0;
    int scroll = 0;
    int quiet = 0;
    const char* device = SENSOR_DEVICE_PATH;
};

// Parses and checks the whole command line. Refusals end the program with
// status 1 (the usage text, or a message through error()); -help and
// -version end it with status 0 after their answer on standard output.
void parse_capture_params(int argc, char* argv[], capture_params* params);

// The usage text on standard output, then the end of the program with
// `status`.
[[noreturn]] void capture_usage(const char* program_path, int status = 1);
