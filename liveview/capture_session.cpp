#include "capture_session.h"

#include <error.h>

#include <cerrno>
#include <csignal>

#include "named_pipe.h"

capture_session::capture_session(const vshare_options& options, const std::string& socket_dir)
    : options_(options),
      handoff_base_(socket_dir + "/vshare-handoff"),
      buffers_(handoff_base_ + "_r", options.device) {}

bool capture_session::start(int64_t now_ms) {
    if (!process_.start(options_, handoff_base_)) {
        return false;
    }
    started_ms_ = now_ms;
    state_ = capture_state::starting;
    had_frames_ = false;
    asked_ = false;
    return true;
}

void capture_session::stop(bool now) {
    asked_ = true;
    end(now ? SIGKILL : SIGTERM);
}

void capture_session::end(int sig) {
    process_.signal(sig);
    if (state_ != capture_state::idle) {
        state_ = capture_state::stopping;
    }
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

void capture_session::take_byte(uint8_t byte, frame_receiver* receiver) {
    if ((byte & PIPE_MAP_REQUEST) != 0) {
        if (!buffers_.map(byte & 0x7FU)) {
            end(SIGTERM);  // a frame in that buffer could not be shared
        }
        return;
    }
    if (state_ == capture_state::starting) {
        state_ = capture_state::running;
    }
    had_frames_ = true;
    ++frames_;
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
    buffers_.release();
    state_ = capture_state::idle;
    return capture_end{asked_, had_frames_, status};
}
