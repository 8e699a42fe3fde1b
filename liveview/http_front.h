// SPDX-License-Identifier: MIT
// The HTTP face of vshare: a table of endpoints in front of the fan-out.
// Each whole request a viewer has sent is checked for a login and answered
// here, or the viewer is set waiting for a frame (the stream, a snapshot).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "access_control.h"
#include "http_request.h"
#include "live_state.h"
#include "viewer.h"
#include "vshare_options.h"

// What the endpoints report on.
struct live_report {
    const capture_status& capture;
    std::span<const viewer> viewers;
};

class http_front {
  public:
    explicit http_front(const vshare_options& options) : options_(options) {}

    // Opens the login check; false (reported) when it cannot be.
    bool open() { return access_.open(options_.users, options_.no_auth); }
    // Answers the requests that `each` has sent whole, as long as it waits
    // for one.
    void serve(viewer& each, const live_report& report, int64_t now_ms);

  private:
    void answer(viewer& each, const http_request& request, const live_report& report,
                int64_t now_ms);
    void ask_for_stream(viewer& each, const http_request& request, int64_t now_ms) const;
    void send_file(viewer& each, const http_request& request, int64_t now_ms);

    const vshare_options& options_;
    access_control access_;
    std::vector<char> file_;  // a page file on its way out
};
