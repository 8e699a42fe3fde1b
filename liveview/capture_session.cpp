// SPDX-License-Identifier: MIT
#include "capture_session.h"

#include <error.h>

#include <cerrno>
#include <cinttypes>
#include <csignal>

#include "monotonic_clock.h"
#include "named_pipe.h"

namespace {

// How long vcapture gets to stop in order: it finishes its frame, stops
// the stream and frees the buffers, which takes a frame period or two.
constexpr int64_t kStopGraceMs = 2000;

}  // namespace

capture_session::capture_session(const vshare_options& options, const std::string& socket_dir)
    : options_(options),
      handoff_base_(socket_dir + "/vshare-handoff"),
      buffers_(handoff_base_ + "_r", options.device) {}

std::string capture_session::start(int64_t now_ms, bool quiet) {
    std::string failed = process_.start(options_, handoff_base_);
    if (!failed.empty()) {
        return failed;
    }
    said_.restart(quiet);
    started_ms_ = now_ms;
    stop_ms_ = -1;
    state_ = run_state::starting;
    had_frames_ = false;
    asked_ = false;
    killed_ = false;
    return {};
}

void capture_session::stop(int64_t now_ms) {
    asked_ = true;
    if (stop_ms_ < 0) {
        stop_ms_ = now_ms;
    }
    end(SIGTERM);
}

void capture_session::kill() {
    asked_ = true;
    killed_ = true;
    end(SIGKILL);
}

void capture_session::end(int sig) {
    process_.signal(sig);
    if (state_ != run_state::idle) {
        state_ = run_state::stopping;
    }
    if (stop_ms_ < 0) {
        stop_ms_ = monotonic_ms();
    }
}

void capture_session::escalate(int64_t now_ms) {
    const int64_t deadline = escalation_deadline();
    if (deadline < 0 || now_ms < deadline) {
        return;
    }
    error(0, 0, "vcapture did not stop in %" PRId64 " s: killed", kStopGraceMs / 1000);
    killed_ = true;
    process_.signal(SIGKILL);
}

int64_t capture_session::escalation_deadline() const {
    if (state_ != run_state::stopping || killed_ || stop_ms_ < 0) {
        return -1;
    }
    return stop_ms_ + kStopGraceMs;
}

void capture_session::take_output(frame_receiver* receiver) {
    uint8_t bytes[64];
    const ssize_t got = read(process_.output(), bytes, sizeof bytes);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
        process_.close_output();  // the end shows as SIGCHLD
        return;
    }
    for (ssize_t i = 0; i < got; ++i) {
        take_byte(bytes[i], receiver);
    }
}

void capture_session::take_messages() {
    if (!said_.take(process_.messages())) {
        process_.close_messages();
    }
}

void capture_session::take_byte(uint8_t byte, frame_receiver* receiver) {
    if ((byte & PIPE_MAP_REQUEST) != 0) {
        if (!buffers_.map(byte & 0x7FU)) {
            end(SIGTERM);  // a frame in that buffer could not be shared
        }
        return;
    }
    if (state_ == run_state::starting) {
        state_ = run_state::running;
    }
    had_frames_ = true;
    ++frames_;
    said_.frame_kept();
    if (const std::optional<shared_frame> frame = buffers_.frame(byte)) {
        receiver->take_frame(*frame);
    }
    if (!buffers_.answer(byte)) {
        end(SIGTERM);
    }
}

std::optional<capture_end> capture_session::reap() {
    int status = 0;
    if (!process_.reap(&status)) {
        return std::nullopt;
    }
    if (process_.messages() >= 0) {
        // Its last words (why it failed) are in the pipe by now.
        said_.take(process_.messages());
        process_.close_messages();
    }
    buffers_.release();
    state_ = run_state::idle;
    stop_ms_ = -1;
    return capture_end{asked_, had_frames_, status};
}
