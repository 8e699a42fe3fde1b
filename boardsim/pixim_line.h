// SPDX-License-Identifier: MIT
// The module emulator's side of the serial line: the trace of what crosses
// it, the pace of 38400 baud when asked for, and the line's own faults
// (an answer in two pieces, a line that floods).
#pragma once

#include <csignal>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pixim {

// Set by SIGTERM and SIGINT: every wait of the emulator ends.
extern volatile std::sig_atomic_t g_stop;

// Opens $dir/trace for the emulator's trace lines; `wire` paces bytes as the
// board's line at 38400 baud does.
void line_setup(const std::string& dir, bool wire);
void log_line(const std::string& line);
// " 03 02 00 2E" for the trace.
std::string hex(const std::vector<uint8_t>& bytes);
// Nanoseconds in 64 bits: a late answer's seconds do not fit a 32-bit long.
void pause_ns(int64_t ns);

// Reads exactly n bytes; false at the end of the line or on an error.
bool read_full(int fd, uint8_t* buffer, size_t n);
// A request's first bytes have arrived: its time on the wire starts.
void wire_start();
// With the wire's timing on, waits until n more bytes have crossed the line.
void wire_wait_bytes(long n);
// Sends an answer, traced; `split` pauses after its first byte.
void send(int fd, const std::vector<uint8_t>& bytes, bool split);
// Traces the line settings the program set on the terminal's slave side.
void log_termios(int slave);
// Bytes of no known type on the line until the emulator is stopped.
void flood(int master);

}  // namespace pixim
