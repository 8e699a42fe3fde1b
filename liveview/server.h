// SPDX-License-Identifier: MIT
// vshare's server: one event loop over the listening sockets (the unix
// socket, the HTTP ones), the viewers, vcapture's index bytes and the
// signals; the capture runs while anyone wants frames and a while after
// (the linger).
#pragma once

#include <poll.h>

#include <cstdint>
#include <vector>

#include "capture_watch.h"
#include "frame_fanout.h"
#include "http_front.h"
#include "live_state.h"
#include "outage_answers.h"
#include "signal_pipe.h"
#include "unix_socket.h"
#include "viewer.h"
#include "vshare_options.h"

class vshare_server final : private frame_receiver {
  public:
    explicit vshare_server(const vshare_options& options);

    // The capture's state, reason and restarts, for the state page.
    [[nodiscard]] const capture_watch& capture() const { return capture_; }

    // Serves until SIGTERM or SIGINT; returns the exit status.
    int run();

    // The capture as /state and /metrics report it.
    [[nodiscard]] capture_status status() const;

  private:
    void take_frame(const shared_frame& frame) override;

    [[nodiscard]] bool finished() const;
    void wait_for_events();
    void dispatch();
    void take_signals();
    bool open_listeners();
    void accept_viewers(int listener, viewer_protocol protocol);
    [[nodiscard]] bool descriptors_left() const;
    void refuse_viewer(unique_fd socket, viewer_protocol protocol);
    void serve_requests();
    void serve_viewers();
    void drop_stalled_viewers();
    void sweep_viewers();
    void steer_capture();
    void begin_shutdown();
    [[nodiscard]] int poll_timeout() const;
    void print_summary() const;

    const vshare_options& options_;
    signal_pipe signals_;
    listening_socket listener_;
    std::vector<unique_fd> http_listeners_;
    capture_watch capture_;
    frame_fanout fanout_;
    http_front http_;
    outage_answers outage_;
    std::vector<viewer> viewers_;
    std::vector<pollfd> poll_set_;
    int64_t now_ms_ = 0;
    int64_t shutdown_deadline_ms_ = -1;
    int64_t accept_paused_until_ms_ = 0;
    bool stopping_ = false;
    uint64_t parts_sent_ = 0;
    uint64_t bytes_copied_ = 0;    // of viewers already gone
    size_t viewer_slots_ = 0;      // where the viewers' slots begin in the poll set
    size_t base_descriptors_ = 0;  // open before any viewer
    int64_t refusal_logged_ms_ = -1;
    // The capture's last frame times (monotonic microseconds), for its rate.
    static constexpr size_t kRateFrames = 16;
    int64_t frame_times_[kRateFrames] = {};
    size_t frames_timed_ = 0;  // wraps harmlessly: a multiple of kRateFrames
};
