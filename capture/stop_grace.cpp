// SPDX-License-Identifier: MIT
#include "stop_grace.h"

#include <error.h>
#include <sys/time.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

namespace {

// Often enough that a blocked call notices the end of its grace promptly.
constexpr long kTickUsec = 100000;

volatile sig_atomic_t g_begun = 0;
// Written by the stop-signal handler only before g_begun is set, and by the
// loop only after: a read never races with the handler's write.
int64_t g_last_progress = 0;

int64_t monotonic_usec() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

void set_tick(long usec) {
    itimerval tick{};
    tick.it_interval.tv_usec = usec;
    tick.it_value.tv_usec = usec;
    setitimer(ITIMER_REAL, &tick, nullptr);
}

void interrupt_only(int /*sig*/) {}

}  // namespace

void stop_grace_install() {
    struct sigaction action {};
    action.sa_handler = interrupt_only;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the blocked call returns
    if (sigaction(SIGALRM, &action, nullptr) != 0) {
        error(1, errno, "sigaction failed for %s", strsignal(SIGALRM));
    }
}

void stop_grace_begin() {
    if (g_begun != 0) {
        return;
    }
    const int saved = errno;  // the interrupted code may be about to read it
    g_last_progress = monotonic_usec();
    std::atomic_signal_fence(std::memory_order_seq_cst);
    g_begun = 1;
    set_tick(kTickUsec);
    errno = saved;
}

void stop_grace_progress() {
    if (g_begun != 0) {
        g_last_progress = monotonic_usec();
    }
}

bool stop_grace_retry() {
    return g_begun != 0 && monotonic_usec() - g_last_progress < kStopGraceUsec;
}

void stop_grace_end() {
    set_tick(0);
    g_begun = 0;
}
