// SPDX-License-Identifier: MIT
// vshare's command line: single-dash options (or double, as vcapture takes
// them), unique prefixes, read once and read-only afterwards.
#pragma once

#include <cstdint>

#include "sensor_device.h"

enum class vshare_mode { server, relay, passwd };

struct vshare_options {
    vshare_mode mode = vshare_mode::server;
    bool snapshot = false;  // relay: ask for one picture instead of the stream
    const char* socket = "/run/camboard-liveview/vshare.sock";
    bool socket_given = false;     // with -listen, the unix socket is opened only when asked
    const char* listen = nullptr;  // HTTP: "[ADDR]:PORT"
    const char* www = CAMBOARD_LIVEVIEW_WWW;
    const char* users = "/var/lib/camboard-liveview/users";
    bool no_auth = false;
    const char* vcapture = CAMBOARD_VCAPTURE;
    const char* device = SENSOR_DEVICE_PATH;  // vcapture's and ours
    unsigned width = 640;
    unsigned height = 480;
    unsigned fps = 15;
    unsigned qscale = 80;
    int64_t linger_ms = 3000;           // the capture runs on this long after the last viewer
    int64_t drop_ms = 5000;             // a viewer that takes no byte this long is closed
    const char* passwd_user = nullptr;  // -passwd: whose password standard input sets
};

enum class parse_outcome { run, help, refused };

// Fills `options` from the command line. A refusal has been reported on
// standard error; -help asks for the usage text. -version is answered here
// and ends the program with status 0.
parse_outcome parse_vshare_options(int argc, char* argv[], vshare_options* options);

// The usage text, on standard output.
void print_vshare_usage(const char* program_path);
