// SPDX-License-Identifier: MIT
// The simulated driver's streaming side: format, stream parameters, JPEG
// quality, controls, memory-mapped buffers in $BOARDSIM_DIR/buffers, queue,
// dequeue with frame pacing, poll. stream.cpp hands each request to the file
// of its concern (stream_requests.h).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

struct pollfd;

namespace boardsim {

// Serves a streaming request made on descriptor `fd`, writing its trace
// line; -ENOTTY for requests that are not about streaming (stream.cpp).
int stream_ioctl(int fd, unsigned long request, void* arg);
// mmap() of the device: the buffers file at the buffer's offset (stream_buffers.cpp).
void* stream_mmap(void* addr, size_t length, int prot, int flags, off_t offset, int* error);
// poll() on the device alone: ready when the next frame is due (frame_pacing.cpp).
int stream_poll(pollfd* fds, int timeout_ms);
// Open file `file` of the device is released (its last descriptor closed):
// if it owned the buffers, streaming stops and the buffers are freed (stream_queue.cpp).
void stream_close(uint32_t file);

}  // namespace boardsim
