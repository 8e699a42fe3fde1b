// SPDX-License-Identifier: MIT
// The shared capture from its start to its end: the vcapture process, the
// buffers it hands over, what each index byte it writes means, and what it
// says on its standard error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "capture_buffers.h"
#include "capture_messages.h"
#include "capture_process.h"
#include "vshare_options.h"

enum class run_state {
    idle,      // no vcapture
    starting,  // vcapture runs, no frame yet
    running,   // it has handed over frames
    stopping,  // asked to stop, not yet reaped
};

// Receives each frame while its buffer is held; it is given back after.
class frame_receiver {
  public:
    virtual void take_frame(const shared_frame& frame) = 0;

  protected:
    ~frame_receiver() = default;
};

// How a capture ended.
struct capture_end {
    bool asked;  // vshare stopped it
    bool had_frames;
    int status;  // the wait status
};

class capture_session {
  public:
    capture_session(const vshare_options& options, const std::string& socket_dir);

    [[nodiscard]] run_state state() const { return state_; }
    [[nodiscard]] int output() const { return process_.output(); }
    [[nodiscard]] int messages() const { return process_.messages(); }
    // Starts vcapture, its lines passed on unless `quiet`; when it cannot
    // be run, why.
    std::string start(int64_t now_ms, bool quiet);
    // Asks vcapture to stop (SIGTERM); one that has not ended after a
    // grace is killed (escalate()).
    void stop(int64_t now_ms);
    // Ends vcapture at once (SIGKILL).
    void kill();
    // Kills a vcapture that was asked to stop a grace ago and still runs:
    // one stuck in a driver that never completes a dequeue, which it
    // repeats on EINTR, never sees the request.
    void escalate(int64_t now_ms);
    // When escalate() has something to do; -1 for never.
    [[nodiscard]] int64_t escalation_deadline() const;
    // Handles what vcapture wrote: map requests, and frames, each passed
    // to `receiver` and answered after it.
    void take_output(frame_receiver* receiver);
    // Reads vcapture's messages.
    void take_messages();
    // After SIGCHLD: how the capture ended, once it has (its messages all
    // read).
    std::optional<capture_end> reap();
    [[nodiscard]] const capture_messages& said() const { return said_; }
    [[nodiscard]] uint64_t frames() const { return frames_; }
    // When the running vcapture was started (monotonic milliseconds).
    [[nodiscard]] int64_t started_ms() const { return started_ms_; }

  private:
    void take_byte(uint8_t byte, frame_receiver* receiver);
    // Signals vcapture without having been asked to: the hand-off failed.
    void end(int sig);

    const vshare_options& options_;
    std::string handoff_base_;
    capture_process process_;
    capture_buffers buffers_;
    capture_messages said_;
    run_state state_ = run_state::idle;
    bool had_frames_ = false;
    bool asked_ = false;
    bool killed_ = false;
    uint64_t frames_ = 0;  // over every run
    int64_t started_ms_ = 0;
    int64_t stop_ms_ = -1;  // when vcapture was told to stop
};
