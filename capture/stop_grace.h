// SPDX-License-Identifier: MIT
// What a stop signal allows a blocked output: the write goes on while the
// reader still takes bytes, and is given up once no byte has moved for a
// second. The stop starts a periodic timer whose signal interrupts every
// blocked call, so that the caller can look at the clock; before a stop an
// interrupted call is not repeated.
#pragma once

#include <cstdint>

inline constexpr int64_t kStopGraceUsec = 1000000;

// Installs the timer signal's handler: it only interrupts (no SA_RESTART).
// A failure ends the program.
void stop_grace_install();
// Starts the grace period and the timer; later calls do nothing.
// Async-signal-safe: called by the stop-signal handler.
void stop_grace_begin();
// Bytes have moved: the second of grace starts again.
void stop_grace_progress();
// Whether a call that a signal interrupted is to be repeated: only after a
// stop, and only while bytes moved within the last second.
bool stop_grace_retry();
// Stops the timer and forgets the stop.
void stop_grace_end();
