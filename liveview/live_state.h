// SPDX-License-Identifier: MIT
// What vshare tells about itself on /state (JSON, which the page reads) and
// /metrics (Prometheus text): the capture, and each streaming viewer.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "viewer.h"

struct capture_status {
    std::string_view state = "idle";  // idle, starting, live, unavailable, stopping
    std::string reason;               // why it is unavailable
    unsigned width = 0;
    unsigned height = 0;
    double fps = 0;  // measured
    uint64_t frames = 0;
    uint64_t restarts = 0;
};

// One streaming viewer as reported.
struct viewer_status {
    std::string address;
    std::string_view path;
    unsigned fps;  // asked for, else the capture's
    uint64_t sent;
    uint64_t skipped;
    uint64_t queued;  // bytes: in the kernel and in its own copy
    int64_t age_ms;   // of the last frame it got
};

// The report of one viewer that streams, at wall-clock time `now_usec`.
viewer_status status_of(const viewer& each, unsigned capture_fps, int64_t now_usec);

std::string state_json(const capture_status& capture, std::span<const viewer> viewers,
                       unsigned capture_fps, int64_t now_usec);
std::string state_metrics(const capture_status& capture, std::span<const viewer> viewers,
                          unsigned capture_fps, int64_t now_usec);
