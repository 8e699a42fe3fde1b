// vshare's server: one event loop over the listening socket, the viewers,
// vcapture's index bytes and the signals; the capture runs while anyone
// wants frames and a while after (the linger).
#pragma once

#include <poll.h>

#include <cstdint>
#include <vector>

#include "capture_watch.h"
#include "frame_fanout.h"
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

  private:
    void take_frame(const shared_frame& frame) override;

    [[nodiscard]] bool finished() const;
    void wait_for_events();
    void dispatch();
    void take_signals();
    void accept_viewers();
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
    capture_watch capture_;
    frame_fanout fanout_;
    outage_answers outage_;
    std::vector<viewer> viewers_;
    std::vector<pollfd> poll_set_;
    int64_t now_ms_ = 0;
    int64_t shutdown_deadline_ms_ = -1;
    int64_t accept_paused_until_ms_ = 0;
    bool stopping_ = false;
    uint64_t parts_sent_ = 0;
    uint64_t bytes_copied_ = 0;  // of viewers already gone
};
