// SPDX-License-Identifier: MIT
// The one output sink of vcapture: a file opened for appending, or standard
// output. An absent sink (NULL) accepts every operation and does nothing.
#pragma once

#include <sys/types.h>

#include <cstddef>

struct out_file {
    char* name;  // the path, or "stdout"; used in messages
    int fd;      // -1 once closed
};

// "-" selects standard output. A failure to open ends the program.
out_file* out_file_open(const char* path, int flags, mode_t mode);
// 0 on success or for an absent sink, 1 on failure (reported).
int out_file_write(out_file* sink, const void* data, size_t n);
void out_file_close(out_file* sink);

// Writes all n bytes: after EAGAIN it waits until the descriptor can take
// data, the processor is yielded between pieces, and after a stop signal an
// interrupted write is repeated while the reader still takes bytes (see
// stop_grace.h). 0, or the negative result of the failing write() or wait.
int write_all(int fd, const void* data, size_t n);
