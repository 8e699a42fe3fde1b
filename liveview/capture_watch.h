// SPDX-License-Identifier: MIT
// The capture as the viewers see it: started while anyone wants frames and
// stopped a linger after the last, watched while it runs (a vcapture that
// hands over no frame for a while, ends on its own, or drops every frame
// has failed), and after a failure tried again, sooner at first and then
// every few seconds, for as long as viewers wait. Meanwhile the camera is
// "unavailable", with the reason.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "capture_session.h"
#include "vshare_options.h"

enum class capture_state { idle, starting, live, unavailable, stopping };

// "idle", "starting", "live", "unavailable", "stopping".
const char* capture_state_name(capture_state state);

class capture_watch {
  public:
    capture_watch(const vshare_options& options, const std::string& socket_dir);

    [[nodiscard]] capture_state state() const;
    // Why the camera is unavailable; empty when it is not.
    [[nodiscard]] std::string_view reason() const { return outage_ ? reason_ : std::string_view(); }
    // Captures started again after a failure, over vshare's whole run.
    [[nodiscard]] uint64_t restarts() const { return restarts_; }
    // Frames handed over, over vshare's whole run.
    [[nodiscard]] uint64_t frames() const { return session_.frames(); }
    // Whether a vcapture runs (or is yet to be reaped).
    [[nodiscard]] bool running() const { return session_.state() != run_state::idle; }
    [[nodiscard]] int output() const { return session_.output(); }
    [[nodiscard]] int messages() const { return session_.messages(); }

    void take_output(frame_receiver* receiver, int64_t now_ms);
    void take_messages(int64_t now_ms);
    // After SIGCHLD.
    void take_child_end(int64_t now_ms);
    // Starts, stops, gives up and retries the capture as the viewers'
    // demand and the clock say.
    void steer(bool wanted, int64_t now_ms);
    // vshare stops: SIGTERM now, SIGKILL after a grace.
    void stop(int64_t now_ms) { session_.stop(now_ms); }
    void kill() { session_.kill(); }
    // When steer() next has something to do; -1 for nothing.
    [[nodiscard]] int64_t next_deadline() const;

  private:
    void start(int64_t now_ms);
    void watch_running(int64_t now_ms);
    void fail(std::string_view why, int64_t now_ms);
    // The camera gives frames vcapture drops: unavailable, while vcapture
    // runs on (frames it keeps end the outage).
    void fail_by_drops();
    [[nodiscard]] int64_t silence_limit_ms() const;

    const vshare_options& options_;
    capture_session session_;
    int64_t stall_ms_;
    bool outage_ = false;
    std::string reason_;
    uint64_t restarts_ = 0;
    int64_t backoff_ms_;
    int64_t retry_delay_ms_ = 0;   // from a failure (or its end) to the next try
    int64_t retry_ms_ = -1;        // when the next try may start
    int64_t last_sign_ms_ = 0;     // the last frame or drop report, or the start
    uint64_t drops_seen_ = 0;      // drop reports counted so far of this vcapture
    int64_t drops_since_ms_ = -1;  // the first drop report since the last frame
    bool drops_told_ = false;      // that run of drops is the reason already
    int64_t linger_deadline_ms_ = -1;
};
