// SPDX-License-Identifier: MIT
// The one-byte hand-off with a peer process: map requests and frame indices
// go out on standard output, the peer's answers come back on a named pipe.
#pragma once

#include <cstdint>

inline constexpr uint8_t PIPE_MAP_REQUEST = 0x80;
inline constexpr uint8_t PIPE_STOP = 0x40;

// Creates (or reuses) the named pipe base+suffix, opens it read-write and
// empties it of what an earlier run's peer left there. Failures end the
// program.
int named_pipe_open(const char* base, const char* suffix);
// 0, or a negative error number (reported).
int pipe_write_byte(int fd, uint8_t byte);
// The byte (0..255), or a negative error number (reported).
int pipe_read_byte(int fd);
// The peer's answer on `fd`, waited for together with the end of the peer's
// input `request_fd`: a peer that has closed it will never answer, and that
// fails as "output pipe closed" with -EPIPE. Otherwise as pipe_read_byte.
int pipe_read_answer(int fd, int request_fd);
