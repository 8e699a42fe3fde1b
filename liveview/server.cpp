#include "server.h"

#include <error.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <string>

#include "monotonic_clock.h"
#include "responses.h"

namespace {

// Slots of the poll set before the viewers'.
enum fixed_slot : size_t { kSignals, kListener, kCapture, kCaptureMessages, kViewers };

// How long the listener rests after running out of descriptors.
constexpr int64_t kAcceptPauseMs = 500;

// How long vcapture and the viewers get to end in order after SIGTERM.
constexpr int64_t kShutdownGraceMs = 5000;

std::string directory_of(const char* path) {
    const std::string text = path;
    const size_t slash = text.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : text.substr(0, slash);
}

}  // namespace

vshare_server::vshare_server(const vshare_options& options)
    : options_(options), capture_(options, directory_of(options.socket)) {}

int vshare_server::run() {
    if (!signals_.install() || !listener_.open(options_.socket)) {
        return 1;
    }
    error(0, 0, "listening on %s", options_.socket);
    constexpr size_t kTypicalViewers = 32;
    viewers_.reserve(kTypicalViewers);
    poll_set_.reserve(kViewers + kTypicalViewers);
    while (!finished()) {
        wait_for_events();
        dispatch();
        drop_stalled_viewers();
        sweep_viewers();
        steer_capture();
    }
    print_summary();
    return 0;
}

bool vshare_server::finished() const {
    return stopping_ && viewers_.empty() && !capture_.running();
}

void vshare_server::wait_for_events() {
    poll_set_.clear();
    poll_set_.push_back({signals_.fd(), POLLIN, 0});
    const bool accepting = now_ms_ >= accept_paused_until_ms_;
    poll_set_.push_back({accepting ? listener_.fd() : -1, POLLIN, 0});
    poll_set_.push_back({capture_.output(), POLLIN, 0});
    poll_set_.push_back({capture_.messages(), POLLIN, 0});
    for (const viewer& each : viewers_) {
        const short events = each.out.busy() ? POLLIN | POLLOUT : POLLIN;
        poll_set_.push_back({each.out.fd(), events, 0});
    }
    if (poll(poll_set_.data(), poll_set_.size(), poll_timeout()) < 0) {
        if (errno != EINTR) {
            error(0, errno, "poll failed");
        }
        for (pollfd& slot : poll_set_) {
            slot.revents = 0;
        }
    }
    now_ms_ = monotonic_ms();
}

void vshare_server::dispatch() {
    if (poll_set_[kSignals].revents != 0) {
        take_signals();
    }
    // Viewers first: the slots match the viewers until new ones are added.
    serve_viewers();
    if (poll_set_[kCapture].revents != 0) {
        capture_.take_output(this, now_ms_);
    }
    if (poll_set_[kCaptureMessages].revents != 0) {
        capture_.take_messages(now_ms_);
    }
    if (poll_set_[kListener].revents != 0 && !stopping_) {
        accept_viewers();
    }
}

void vshare_server::take_signals() {
    const signal_events events = signals_.take();
    if (events.child) {
        capture_.take_child_end(now_ms_);
    }
    if (events.stop && !stopping_) {
        begin_shutdown();
    }
}

void vshare_server::accept_viewers() {
    for (;;) {
        const int fd = accept4(listener_.fd(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            viewers_.emplace_back(unique_fd(fd), now_ms_);
            continue;
        }
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            // The connection stays queued; taking it again at once would
            // spin. It is tried again a moment later.
            error(0, errno, "can't accept a viewer");
            accept_paused_until_ms_ = now_ms_ + kAcceptPauseMs;
        }
        return;
    }
}

void vshare_server::serve_viewers() {
    for (size_t i = 0; i + kViewers < poll_set_.size(); ++i) {
        const short revents = poll_set_[i + kViewers].revents;
        viewer& each = viewers_[i];
        if ((revents & POLLOUT) != 0) {
            each.flush(now_ms_);
        }
        if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0 && each.phase != viewer_phase::done) {
            each.read_input(now_ms_);
        }
    }
}

void vshare_server::take_frame(const shared_frame& frame) {
    parts_sent_ += fanout_.deliver(viewers_, frame, now_ms_);
}

void vshare_server::drop_stalled_viewers() {
    for (viewer& each : viewers_) {
        const int64_t since = each.stalled_since_ms();
        if (since >= 0 && now_ms_ - since >= options_.drop_ms && each.phase != viewer_phase::done) {
            error(0, 0,
                  each.phase == viewer_phase::request ? "viewer dropped: no request for %g s"
                                                      : "viewer dropped: it took nothing for %g s",
                  static_cast<double>(options_.drop_ms) / 1000);
            each.phase = viewer_phase::done;
        }
    }
    if (shutdown_deadline_ms_ >= 0 && now_ms_ >= shutdown_deadline_ms_) {
        capture_.kill();
        for (viewer& each : viewers_) {
            each.phase = viewer_phase::done;
        }
    }
}

void vshare_server::sweep_viewers() {
    std::erase_if(viewers_, [this](const viewer& each) {
        if (each.phase != viewer_phase::done) {
            return false;
        }
        bytes_copied_ += each.out.copied();
        each.discard_input();
        return true;
    });
}

// The capture runs while anyone wants frames (and a linger after); while
// the camera is unavailable the viewers get the outage's answers.
void vshare_server::steer_capture() {
    const bool wanted = std::any_of(viewers_.begin(), viewers_.end(),
                                    [](const viewer& each) { return each.wants_frames(); });
    capture_.steer(wanted && !stopping_, now_ms_);
    if (capture_.state() == capture_state::unavailable && !stopping_) {
        parts_sent_ += outage_.serve(viewers_, &fanout_, now_ms_);
    } else {
        outage_.reset();
    }
}

void vshare_server::begin_shutdown() {
    stopping_ = true;
    listener_.close();
    capture_.stop(now_ms_);
    fanout_.end_all(viewers_, now_ms_);
    for (viewer& each : viewers_) {
        if (each.phase == viewer_phase::request) {
            each.finish(kUnavailable, now_ms_);  // its request may be on the way
        }
    }
    shutdown_deadline_ms_ = now_ms_ + std::max(options_.drop_ms, kShutdownGraceMs);
}

// Until the nearest deadline: the capture's next step, a placeholder, a
// stalled viewer's drop, the end of the shutdown's grace.
int vshare_server::poll_timeout() const {
    int64_t nearest = -1;
    const auto consider = [&nearest](int64_t deadline) {
        if (deadline >= 0 && (nearest < 0 || deadline < nearest)) {
            nearest = deadline;
        }
    };
    consider(capture_.next_deadline());
    if (capture_.state() == capture_state::unavailable) {
        consider(outage_.next_deadline());
    }
    consider(accept_paused_until_ms_ > now_ms_ ? accept_paused_until_ms_ : -1);
    consider(shutdown_deadline_ms_);
    for (const viewer& each : viewers_) {
        const int64_t since = each.stalled_since_ms();
        consider(since >= 0 ? since + options_.drop_ms : -1);
    }
    if (nearest < 0) {
        return -1;
    }
    const int64_t wait = nearest - monotonic_ms();
    return static_cast<int>(std::clamp<int64_t>(wait + 1, 0, INT32_MAX));
}

// What the benchmark reads: the copies that slow viewers cost.
void vshare_server::print_summary() const {
    const uint64_t frames = capture_.frames();
    uint64_t copied = bytes_copied_;
    for (const viewer& each : viewers_) {
        copied += each.out.copied();
    }
    error(0, 0,
          "%" PRIu64 " frames shared, %" PRIu64 " parts sent, %" PRIu64
          " bytes copied (%.1f per frame)",
          frames, parts_sent_, copied,
          frames != 0 ? static_cast<double>(copied) / static_cast<double>(frames) : 0.0);
}
