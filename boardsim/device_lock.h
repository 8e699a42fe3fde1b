// SPDX-License-Identifier: MIT
// One client may call the driver from several threads at once (GStreamer's
// streaming thread dequeues while the application's thread queries and
// queues): the driver's state is changed by one call at a time. A call that
// waits (a blocking dequeue, a poll for the next frame) lets go of the driver
// while it waits, as a kernel driver sleeps without its lock, so that the
// other thread can queue the buffer it waits for or stop the stream.
#pragma once

#include <ctime>

namespace boardsim {

// Holds the driver for one call of the client's (an entry point of the device).
class device_call {
  public:
    device_call();
    ~device_call();
    device_call(const device_call&) = delete;
    device_call& operator=(const device_call&) = delete;
};

// Inside a call: lets go of the driver until `due` (CLOCK_MONOTONIC; nullptr:
// no limit) or until another thread changes the stream; 0, or -EINTR when a
// signal came first. The caller looks at the state again afterwards.
int wait_without_driver(const timespec* due);

// Wakes the calls that wait: a buffer was queued, the stream started or
// stopped, the buffers were released.
void stream_changed();

}  // namespace boardsim
