// SPDX-License-Identifier: MIT
#include "capture_watch.h"

#include <error.h>
#include <sys/wait.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace {

// How long a starting vcapture may take to hand over its first frame: it
// opens and sets up the device first, which is slow under an emulator.
constexpr int64_t kFirstFrameMs = 10000;

// A running capture that hands over nothing for this long (or four frame
// periods of a slow rate) has stalled.
constexpr int64_t kMinStallMs = 3000;

// The waits before each try after a failure: short at first, for a camera
// that was only busy for a moment, and never so long that viewers wait more
// than a few seconds for a camera that has come back.
constexpr int64_t kFirstRetryMs = 500;
constexpr int64_t kLongestRetryMs = 2000;

// The reason for a run of dropped frames, from vcapture's words for the
// last: a size the camera encodes too small for vcapture gets its own.
std::string drop_reason(std::string_view said) {
    const std::string text(said);
    size_t size = 0;
    size_t minimum = 0;
    if (std::sscanf(text.c_str(), "JPEG frame size %zu < %zu", &size, &minimum) == 2) {
        return "frames too small: vcapture drops JPEG images under " + std::to_string(minimum) +
               " bytes, the camera gives " + std::to_string(size);
    }
    return "vcapture drops every frame" + (text.empty() ? text : ": " + text);
}

std::string seconds_text(int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(ms) / 1000);
    return text;
}

}  // namespace

const char* capture_state_name(capture_state state) {
    switch (state) {
        case capture_state::idle:
            return "idle";
        case capture_state::starting:
            return "starting";
        case capture_state::live:
            return "live";
        case capture_state::unavailable:
            return "unavailable";
        case capture_state::stopping:
            return "stopping";
    }
    return "?";
}

capture_watch::capture_watch(const vshare_options& options, const std::string& socket_dir)
    : options_(options),
      session_(options, socket_dir),
      stall_ms_(std::max<int64_t>(kMinStallMs, 4000 / std::max(options.fps, 1U))),
      backoff_ms_(kFirstRetryMs) {}

capture_state capture_watch::state() const {
    if (outage_) {
        return capture_state::unavailable;
    }
    switch (session_.state()) {
        case run_state::idle:
            return capture_state::idle;
        case run_state::starting:
            return capture_state::starting;
        case run_state::running:
            return capture_state::live;
        case run_state::stopping:
            return capture_state::stopping;
    }
    return capture_state::idle;
}

void capture_watch::take_output(frame_receiver* receiver, int64_t now_ms) {
    const uint64_t before = session_.frames();
    session_.take_output(receiver);
    if (session_.frames() == before) {
        return;
    }
    last_sign_ms_ = now_ms;
    drops_since_ms_ = -1;
    drops_told_ = false;
    if (outage_) {
        error(0, 0, "the camera is back");
        outage_ = false;
        backoff_ms_ = kFirstRetryMs;
        retry_ms_ = -1;
    }
}

void capture_watch::take_messages(int64_t now_ms) {
    session_.take_messages();
    const uint64_t drops = session_.said().drops();
    if (drops == drops_seen_) {
        return;
    }
    drops_seen_ = drops;
    last_sign_ms_ = now_ms;  // the camera delivers, if nothing vcapture keeps
    if (drops_since_ms_ < 0) {
        drops_since_ms_ = now_ms;
    }
}

void capture_watch::take_child_end(int64_t now_ms) {
    const std::optional<capture_end> end = session_.reap();
    if (!end) {
        return;
    }
    if (end->asked) {
        // The linger's end, or a failure already counted: the next try
        // waits its time from now, so that a driver that was stuck has a
        // moment to recover.
        retry_ms_ = now_ms + retry_delay_ms_;
        return;
    }
    std::string why = "vcapture ended (" + describe_wait_status(end->status) + ")";
    const std::string_view last = session_.said().last_message();
    if (WIFEXITED(end->status) && WEXITSTATUS(end->status) != 0 && !last.empty()) {
        why.append(": ").append(last);  // its own words for the failure
    }
    fail(why, now_ms);
}

void capture_watch::steer(bool wanted, int64_t now_ms) {
    switch (session_.state()) {
        case run_state::idle:
            linger_deadline_ms_ = -1;
            if (!wanted) {
                // Nobody waits for the camera: nothing is tried until
                // someone does, and then at once.
                outage_ = false;
                backoff_ms_ = kFirstRetryMs;
                retry_ms_ = -1;
            } else if (!outage_ || now_ms >= retry_ms_) {
                start(now_ms);
            }
            break;
        case run_state::starting:
        case run_state::running:
            watch_running(now_ms);
            if (session_.state() == run_state::stopping) {
                break;  // it has just failed
            }
            if (wanted) {
                linger_deadline_ms_ = -1;
            } else if (linger_deadline_ms_ < 0) {
                linger_deadline_ms_ = now_ms + options_.linger_ms;
            }
            if (linger_deadline_ms_ >= 0 && now_ms >= linger_deadline_ms_) {
                session_.stop(now_ms);
                linger_deadline_ms_ = -1;
            }
            break;
        case run_state::stopping:
            session_.escalate(now_ms);
            break;
    }
}

void capture_watch::start(int64_t now_ms) {
    const bool retry = outage_;
    if (retry) {
        ++restarts_;
    }
    // A retry's vcapture would only repeat its predecessor's lines; what
    // differs shows in the reason.
    const std::string failed = session_.start(now_ms, retry);
    last_sign_ms_ = now_ms;
    drops_seen_ = 0;
    drops_since_ms_ = -1;
    drops_told_ = false;
    if (!failed.empty()) {
        fail(failed, now_ms);
    }
}

void capture_watch::watch_running(int64_t now_ms) {
    if (drops_since_ms_ >= 0 && now_ms - drops_since_ms_ >= stall_ms_ && !drops_told_) {
        fail_by_drops();
    }
    if (now_ms - last_sign_ms_ < silence_limit_ms()) {
        return;
    }
    if (session_.state() == run_state::starting && drops_seen_ == 0) {
        fail("vcapture gave no frame in " + seconds_text(kFirstFrameMs), now_ms);
    } else {
        fail("vcapture gave no frame for " + seconds_text(stall_ms_), now_ms);
    }
}

int64_t capture_watch::silence_limit_ms() const {
    const bool any_sign = session_.state() == run_state::running || drops_seen_ != 0;
    return any_sign ? stall_ms_ : kFirstFrameMs;
}

void capture_watch::fail(std::string_view why, int64_t now_ms) {
    if (!outage_ || reason_ != why) {
        error(0, 0, "%.*s", static_cast<int>(why.size()), why.data());
        reason_ = why;
    }
    outage_ = true;
    retry_delay_ms_ = backoff_ms_;
    retry_ms_ = now_ms + retry_delay_ms_;  // from the end of a vcapture still running
    backoff_ms_ = std::min(backoff_ms_ * 2, kLongestRetryMs);
    linger_deadline_ms_ = -1;
    session_.stop(now_ms);  // (nothing to do when it has ended)
}

void capture_watch::fail_by_drops() {
    const std::string why = drop_reason(session_.said().last_drop());
    if (!outage_ || reason_ != why) {
        error(0, 0, "%s", why.c_str());
        reason_ = why;
    }
    outage_ = true;
    drops_told_ = true;
}

int64_t capture_watch::next_deadline() const {
    int64_t nearest = -1;
    const auto consider = [&nearest](int64_t deadline) {
        if (deadline >= 0 && (nearest < 0 || deadline < nearest)) {
            nearest = deadline;
        }
    };
    switch (session_.state()) {
        case run_state::idle:
            consider(outage_ ? retry_ms_ : -1);
            break;
        case run_state::starting:
        case run_state::running:
            consider(linger_deadline_ms_);
            consider(last_sign_ms_ + silence_limit_ms());
            consider(drops_since_ms_ >= 0 && !drops_told_ ? drops_since_ms_ + stall_ms_ : -1);
            break;
        case run_state::stopping:
            consider(session_.escalation_deadline());
            break;
    }
    return nearest;
}
