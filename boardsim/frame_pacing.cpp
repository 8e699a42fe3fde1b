// SPDX-License-Identifier: MIT
#include "frame_pacing.h"

#include <poll.h>
#include <sys/timerfd.h>

#include <cstdint>
#include <ctime>
#include <string>

#include "device_lock.h"
#include "settings.h"
#include "stream.h"
#include "stream_queue.h"
#include "trace.h"

namespace boardsim {

namespace {

constexpr int64_t kNsPerSecond = 1000000000;

int64_t interval_ns(const driver_state* d) {
    if (d->tpf_num == 0 || d->tpf_den == 0) {
        return kNsPerSecond / 30;
    }
    return static_cast<int64_t>(d->tpf_num) * kNsPerSecond / d->tpf_den;
}

timespec due_time(const driver_state* d, uint32_t seq) {
    const int64_t ns = static_cast<int64_t>(g_stream.t0.tv_nsec) + interval_ns(d) * seq;
    return {g_stream.t0.tv_sec + static_cast<time_t>(ns / kNsPerSecond),
            static_cast<long>(ns % kNsPerSecond)};
}

// What poll() answers without looking at when frames are due: the answer
// the configured fault asks for, or an error while nothing is queued (as a
// driver reports it); false when the answer depends on the next frame.
bool poll_answered_at_once(const std::string& fault, pollfd* fds, int* rc) {
    if (fault == "timeout") {
        *rc = 0;
    } else if (fault == "many") {
        fds->revents = POLLIN;
        *rc = 2;
    } else if (fault.rfind("error:", 0) == 0) {
        *rc = -parse_errno(fault.substr(6));
    } else if (fault == "err" || !g_stream.streaming || g_stream.size == 0) {
        fds->revents = POLLERR;
    } else if (fault == "nval") {
        fds->revents = POLLNVAL;
    } else if (fault == "hup") {
        fds->revents = POLLHUP | POLLIN;
    } else if (fault == "noin") {
        fds->revents = POLLOUT;
    } else {
        return false;
    }
    return true;
}

// Ready when the next frame is due: waited for, unless the timeout is 0. A
// stream stopped or emptied by another thread meanwhile is answered as such.
int poll_for_frame(const std::string& fault, pollfd* fds, int timeout_ms) {
    if (timeout_ms == 0) {
        fds->revents = POLLIN | POLLRDNORM;
        return 1;
    }
    for (;;) {
        const driver_state* d = driver();
        if (const int rc = wait_for_frame(d); rc != 0) {
            fds->revents = 0;
            return rc;
        }
        int rc = 1;
        if (poll_answered_at_once(fault, fds, &rc)) {
            return rc;
        }
        if (frame_due_now(d)) {
            fds->revents = POLLIN | POLLRDNORM;
            return 1;
        }
    }
}

}  // namespace

int wait_for_frame(const driver_state* d) {
    if (get_settings().unpaced) {
        return 0;
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    // A frame whose time has passed without a buffer was lost, as on a sensor.
    const int64_t elapsed =
        (now.tv_sec - g_stream.t0.tv_sec) * 1000000000LL + now.tv_nsec - g_stream.t0.tv_nsec;
    const auto missed = static_cast<uint32_t>(elapsed / interval_ns(d));
    if (missed > g_stream.next_seq) {
        g_stream.next_seq = missed;
    }
    const timespec due = due_time(d, g_stream.next_seq);
    return frame_due_now(d) ? 0 : wait_without_driver(&due);
}

bool frame_due_now(const driver_state* d) {
    if (get_settings().unpaced) {
        return true;
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const timespec due = due_time(d, g_stream.next_seq);
    return now.tv_sec > due.tv_sec || (now.tv_sec == due.tv_sec && now.tv_nsec >= due.tv_nsec);
}

// The device's descriptor is a timer that is readable when a frame can be
// dequeued, so that select(), epoll and ppoll wait for frames as on a driver.
// An expired timer stays readable, so the timer is set again only when what
// it should say changes (unpaced: only when the queue empties or fills).
void update_readiness(int fd) {
    static int armed_fd = -1;
    static timespec armed{};
    timespec due{};
    if (g_stream.streaming && g_stream.size > 0) {
        due = get_settings().unpaced ? timespec{0, 1} : due_time(driver(), g_stream.next_seq);
    }
    if (fd == armed_fd && due.tv_sec == armed.tv_sec && due.tv_nsec == armed.tv_nsec) {
        return;
    }
    itimerspec when{};
    when.it_value = due;
    if (timerfd_settime(fd, TFD_TIMER_ABSTIME, &when, nullptr) == 0) {
        armed_fd = fd;
        armed = due;
    }
}

int stream_poll(pollfd* fds, int timeout_ms) {
    int rc = 1;
    fds->revents = 0;
    const std::string& fault = get_settings().poll_fault;
    if (!poll_answered_at_once(fault, fds, &rc)) {
        rc = poll_for_frame(fault, fds, timeout_ms);
    }
    char rb[24];
    trace("poll = %s revents=0x%X", result_text(rc, rb), fds->revents);
    return rc;
}

}  // namespace boardsim
