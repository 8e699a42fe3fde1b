// SPDX-License-Identifier: MIT
// The stop signals SIGHUP, SIGINT, SIGQUIT, SIGPIPE and SIGTERM: once
// installed, each only records that a stop was asked for, and the frame loop
// ends at its next check; a blocked call returns early (no SA_RESTART).
#pragma once

#include <csignal>

// Set by a stop signal, or by the peer's stop byte.
extern volatile sig_atomic_t stop_requested;
// The number of the last stop signal; 0 when only the peer asked.
extern volatile sig_atomic_t stop_signal;

void stop_signal_handler(int sig);
// Installs the handler for every stop signal, and stop_grace's timer signal.
// A failure ends the program.
void install_stop_signals();
