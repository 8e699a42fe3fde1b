// The simulated driver's streaming side: format, stream parameters, JPEG
// quality, controls, memory-mapped buffers in $BOARDSIM_DIR/buffers, queue,
// dequeue with frame pacing, poll.
#pragma once

#include <sys/types.h>

#include <cstddef>

struct pollfd;

namespace boardsim {

// Serves a streaming request, writing its trace line; -ENOTTY for requests
// that are not about streaming.
int stream_ioctl(unsigned long request, void* arg);
// mmap() of the device: the buffers file at the buffer's offset.
void* stream_mmap(void* addr, size_t length, int prot, int flags, off_t offset, int* error);
// poll() on the device alone: ready when the next frame is due.
int stream_poll(pollfd* fds, int timeout_ms);
// The device is closed: streaming stops.
void stream_close();

}  // namespace boardsim
