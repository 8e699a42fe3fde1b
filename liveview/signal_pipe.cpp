// SPDX-License-Identifier: MIT
#include "signal_pipe.h"

#include <error.h>
#include <fcntl.h>

#include <cerrno>
#include <csignal>
#include <cstdint>

namespace {

// The pipe's write end, for the handler; -1 before install().
volatile sig_atomic_t g_write_end = -1;

void on_signal(int sig) {
    const int saved = errno;
    const auto byte = static_cast<uint8_t>(sig);
    [[maybe_unused]] const ssize_t ignored = write(g_write_end, &byte, 1);
    errno = saved;
}

bool handle(int sig) {
    struct sigaction action {};
    action.sa_handler = on_signal;
    action.sa_flags = SA_RESTART | (sig == SIGCHLD ? SA_NOCLDSTOP : 0);
    sigemptyset(&action.sa_mask);
    return sigaction(sig, &action, nullptr) == 0;
}

}  // namespace

bool signal_pipe::install() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        error(0, errno, "can't create the signal pipe");
        return false;
    }
    read_end_.reset(ends[0]);
    write_end_.reset(ends[1]);
    g_write_end = ends[1];
    if (!handle(SIGTERM) || !handle(SIGINT) || !handle(SIGCHLD) ||
        std::signal(SIGPIPE, SIG_IGN) == SIG_ERR) {
        error(0, errno, "can't install the signal handlers");
        return false;
    }
    return true;
}

signal_events signal_pipe::take() {
    signal_events events;
    uint8_t bytes[64];
    ssize_t got = 0;
    while ((got = read(read_end_.get(), bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < got; ++i) {
            events.child = events.child || bytes[i] == SIGCHLD;
            events.stop = events.stop || bytes[i] == SIGTERM || bytes[i] == SIGINT;
        }
    }
    return events;
}
