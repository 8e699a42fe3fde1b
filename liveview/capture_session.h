// The shared capture from its start to its end: the vcapture process, the
// buffers it hands over, and what each index byte it writes means.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "capture_buffers.h"
#include "capture_process.h"
#include "vshare_options.h"

enum class capture_state {
    idle,      // no vcapture
    starting,  // vcapture runs, no frame yet
    running,   // frames arrive
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

    [[nodiscard]] capture_state state() const { return state_; }
    [[nodiscard]] int output() const { return process_.output(); }
    // Starts vcapture; false (reported) when it cannot be run.
    bool start(int64_t now_ms);
    // Asks vcapture to stop; SIGKILL when `now` is true.
    void stop(bool now);
    // Handles what vcapture wrote: map requests, and frames, each passed
    // to `receiver` and answered after it.
    void take_output(frame_receiver* receiver);
    // After SIGCHLD: how the capture ended, once it has.
    std::optional<capture_end> reap();
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
    capture_state state_ = capture_state::idle;
    bool had_frames_ = false;
    bool asked_ = false;
    uint64_t frames_ = 0;  // over every run
    int64_t started_ms_ = 0;
};
