// SPDX-License-Identifier: MIT
#include "stop_signals.h"

#include <error.h>

#include <cerrno>
#include <cstring>

#include "stop_grace.h"

volatile sig_atomic_t stop_requested = 0;
volatile sig_atomic_t stop_signal = 0;

namespace {
constexpr int kStopSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGTERM};
}  // namespace

void stop_signal_handler(int sig) {
    stop_requested = 1;
    stop_signal = sig;
    stop_grace_begin();  // a write that the reader holds up is not waited for long
}

void install_stop_signals() {
    stop_grace_install();
    struct sigaction action {};
    action.sa_handler = stop_signal_handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: blocking calls return on a stop
    for (const int sig : kStopSignals) {
        if (sigaction(sig, &action, nullptr) != 0) {
            error(1, errno, "sigaction failed for %s", strsignal(sig));
        }
    }
}
