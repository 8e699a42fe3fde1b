// SPDX-License-Identifier: MIT
// The signals the server acts on (SIGTERM, SIGINT: stop; SIGCHLD: the
// capture ended), turned into bytes on a pipe that the event loop polls.
// A self-pipe rather than signalfd: it also works where a user-mode
// emulator (qemu-arm) delivers the signals itself.
#pragma once

#include "unique_fd.h"

struct signal_events {
    bool stop = false;   // SIGTERM or SIGINT
    bool child = false;  // SIGCHLD
};

class signal_pipe {
  public:
    // Installs the handlers; false (reported) when that fails. SIGPIPE is
    // ignored from then on: a gone viewer shows as EPIPE.
    bool install();
    [[nodiscard]] int fd() const { return read_end_.get(); }
    // What arrived since the last call; never waits.
    signal_events take();

  private:
    unique_fd read_end_;
    unique_fd write_end_;
};
