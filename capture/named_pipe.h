// The one-byte hand-off with a peer process: map requests and frame indices
// go out on standard output, the peer's answers come back on a named pipe.
#pragma once

#include <cstdint>

inline constexpr uint8_t PIPE_MAP_REQUEST = 0x80;
inline constexpr uint8_t PIPE_STOP = 0x40;

// Creates (or reuses) the named pipe base+suffix and opens it read-write.
// Failures end the program.
int named_pipe_open(const char* base, const char* suffix);
// 0, or a negative error number (reported).
int pipe_write_byte(int fd, uint8_t byte);
// The byte (0..255), or a negative error number (reported).
int pipe_read_byte(int fd);
