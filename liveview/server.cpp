// SPDX-License-Identifier: MIT
#include "server.h"

#include <dirent.h>
#include <error.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <string>

#include "http_responses.h"
#include "monotonic_clock.h"
#include "responses.h"
#include "tcp_listener.h"

namespace {

// Slots of the poll set before the HTTP listeners' and the viewers'.
enum fixed_slot : size_t { kSignals, kListener, kCapture, kCaptureMessages, kHttpListeners };

// The descriptors kept free for the capture, so that viewers never take
// them: vcapture's two pipes, of its index bytes and of its messages (both
// ends while it starts), the one its /dev/null takes in the child's copy
// of the table, the device and the answer pipe of the buffer mapping; and
// the directory and file of a page on its way out.
constexpr size_t kCaptureReserve = 9;

// Connections taken from one listener in one round: a flood of them does
// not hold up the frames.
constexpr int kAcceptsPerRound = 64;

// The kernel takes more of a viewer's data only while less than this waits
// unsent in it; the rest of a part waits in the viewer's own copy. Whether
// a new part goes at all is decided by what the kernel still holds (see
// viewer_output::drained): this only keeps a part that cannot go at once
// out of the kernel's queue, where it could no longer be dropped.
constexpr int kNotSentLowWater = 4096;

// How often a refusal for want of descriptors is logged.
constexpr int64_t kRefusalLogMs = 1000;

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

// The descriptors open now.
size_t count_open_descriptors() {
    DIR* directory = opendir("/proc/self/fd");
    if (directory == nullptr) {
        return 0;
    }
    size_t count = 0;
    while (const dirent* entry = readdir(directory)) {
        count += entry->d_name[0] != '.' ? 1 : 0;
    }
    closedir(directory);
    return count - 1;  // the directory's own
}

// A viewer's TCP socket: no Nagle delay on the parts, and no more than
// about a part waiting in the kernel.
void tune_tcp(int fd) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &kNotSentLowWater, sizeof kNotSentLowWater);
}

}  // namespace

vshare_server::vshare_server(const vshare_options& options)
    : options_(options),
      capture_(options, directory_of(options.socket)),
      fanout_(options.fps),
      http_(options) {}

bool vshare_server::open_listeners() {
    if (options_.listen == nullptr || options_.socket_given) {
        if (!listener_.open(options_.socket)) {
            return false;
        }
        error(0, 0, "listening on %s", options_.socket);
    }
    http_listeners_ = take_activated_sockets();
    if (options_.listen != nullptr) {
        unique_fd fd = listen_tcp(options_.listen);
        if (!fd.valid()) {
            return false;
        }
        http_listeners_.push_back(std::move(fd));
    }
    // The logins first: "listening" tells that requests are answered, the
    // first start's credentials made.
    if (!http_listeners_.empty() && !http_.open()) {
        return false;
    }
    for (const unique_fd& each : http_listeners_) {
        error(0, 0, "listening on %s", describe_local(each.get()).c_str());
    }
    return true;
}

int vshare_server::run() {
    if (!signals_.install() || !open_listeners()) {
        return 1;
    }
    base_descriptors_ = count_open_descriptors();
    constexpr size_t kTypicalViewers = 32;
    viewers_.reserve(kTypicalViewers);
    poll_set_.reserve(viewer_slots_ + kTypicalViewers);
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
    for (const unique_fd& each : http_listeners_) {
        poll_set_.push_back({accepting ? each.get() : -1, POLLIN, 0});
    }
    viewer_slots_ = poll_set_.size();
    for (const viewer& each : viewers_) {
        const short in = each.wants_input() ? POLLIN : 0;
        poll_set_.push_back(
            {each.out.fd(), static_cast<short>(in | (each.out.busy() ? POLLOUT : 0)), 0});
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
    if (!stopping_) {
        if (poll_set_[kListener].revents != 0) {
            accept_viewers(listener_.fd(), viewer_protocol::local);
        }
        for (size_t i = 0; i < http_listeners_.size(); ++i) {
            if (poll_set_[kHttpListeners + i].revents != 0) {
                accept_viewers(http_listeners_[i].get(), viewer_protocol::http);
            }
        }
    }
    serve_requests();
}

// The HTTP requests that have come whole.
void vshare_server::serve_requests() {
    std::optional<capture_status> report_status;
    for (viewer& each : viewers_) {
        if (each.protocol != viewer_protocol::http || each.phase != viewer_phase::request ||
            each.request_bytes().empty()) {
            continue;
        }
        if (!report_status) {
            report_status = status();
        }
        http_.serve(each, {*report_status, viewers_}, now_ms_);
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

void vshare_server::accept_viewers(int listener, viewer_protocol protocol) {
    for (int round = 0; round < kAcceptsPerRound; ++round) {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        const int fd = accept4(listener, reinterpret_cast<sockaddr*>(&peer), &length,
                               SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            unique_fd socket(fd);
            if (protocol == viewer_protocol::http) {
                tune_tcp(fd);
            }
            if (!descriptors_left()) {
                refuse_viewer(std::move(socket), protocol);
                continue;
            }
            viewers_.emplace_back(std::move(socket), now_ms_, protocol, &peer);
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

// Whether one more viewer leaves the capture the descriptors it needs.
bool vshare_server::descriptors_left() const {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return true;
    }
    return base_descriptors_ + viewers_.size() + 1 + kCaptureReserve <= limit.rlim_cur;
}

// Answers 503 at once and closes: the viewer is given no room.
void vshare_server::refuse_viewer(unique_fd socket, viewer_protocol protocol) {
    if (refusal_logged_ms_ < 0 || now_ms_ - refusal_logged_ms_ >= kRefusalLogMs) {
        error(0, 0, "viewer refused: too few descriptors left for the capture");
        refusal_logged_ms_ = now_ms_;
    }
    const std::string_view answer =
        protocol == viewer_protocol::http ? kHttpUnavailable : kUnavailable;
    send(socket.get(), answer.data(), answer.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    shutdown(socket.get(), SHUT_WR);
    // Input left unread would reset the connection, and the answer with it.
    char scratch[512];
    for (int round = 0; round < 64 && recv(socket.get(), scratch, sizeof scratch, MSG_DONTWAIT) > 0;
         ++round) {
    }
}

void vshare_server::serve_viewers() {
    for (size_t i = 0; i + viewer_slots_ < poll_set_.size(); ++i) {
        const short revents = poll_set_[i + viewer_slots_].revents;
        viewer& each = viewers_[i];
        if ((revents & POLLOUT) != 0) {
            each.flush(now_ms_);
        }
        const bool failed = (revents & (POLLHUP | POLLERR)) != 0;
        if ((revents & POLLIN) != 0 || failed) {
            if (each.phase != viewer_phase::done && (each.wants_input() || failed)) {
                each.read_input(now_ms_);
            }
        }
    }
}

void vshare_server::take_frame(const shared_frame& frame) {
    frame_times_[frames_timed_++ % kRateFrames] = clock_usec(CLOCK_MONOTONIC);
    parts_sent_ += fanout_.deliver(viewers_, frame, now_ms_);
}

capture_status vshare_server::status() const {
    capture_status report;
    report.state = capture_state_name(capture_.state());
    report.reason = std::string(capture_.reason());
    report.width = options_.width;
    report.height = options_.height;
    report.frames = capture_.frames();
    report.restarts = capture_.restarts();
    const size_t timed = std::min(frames_timed_, kRateFrames);
    if (capture_.state() == capture_state::live && timed >= 2) {
        const int64_t newest = frame_times_[(frames_timed_ - 1) % kRateFrames];
        const int64_t oldest = frame_times_[(frames_timed_ - timed) % kRateFrames];
        if (newest > oldest) {
            report.fps =
                static_cast<double>(timed - 1) * 1e6 / static_cast<double>(newest - oldest);
        }
    }
    return report;
}

void vshare_server::drop_stalled_viewers() {
    for (viewer& each : viewers_) {
        const int64_t since = each.stalled_since_ms();
        if (since >= 0 && now_ms_ - since >= options_.drop_ms && each.phase != viewer_phase::done) {
            // A kept-alive connection with nothing more to ask, or one a
            // browser opened ahead and never used, ends quietly.
            const bool idle = each.protocol == viewer_protocol::http &&
                              each.phase == viewer_phase::request && each.request_bytes().empty();
            if (!idle && !(each.answered_before() && each.phase == viewer_phase::request)) {
                error(0, 0,
                      each.phase == viewer_phase::request
                          ? "viewer dropped: no request for %g s"
                          : "viewer dropped: it took nothing for %g s",
                      static_cast<double>(options_.drop_ms) / 1000);
            }
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
    http_listeners_.clear();
    capture_.stop(now_ms_);
    fanout_.end_all(viewers_, now_ms_);
    for (viewer& each : viewers_) {
        each.terms.keep_alive = false;  // a response under way is the last
        if (each.phase != viewer_phase::request) {
            continue;
        }
        if (each.protocol == viewer_protocol::local) {
            each.finish(kUnavailable, now_ms_);  // its request may be on the way
        } else if (each.answered_before() && each.request_bytes().empty()) {
            each.phase = viewer_phase::done;  // idle between requests
        } else {
            each.finish(kHttpUnavailable, now_ms_);
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
