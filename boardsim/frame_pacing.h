// SPDX-License-Identifier: MIT
// When frames are due: a sensor delivers one frame per time per frame from
// the moment streaming starts, and the device's descriptor and poll() say
// when one can be dequeued.
#pragma once

#include "driver_state.h"

namespace boardsim {

// Waits until the next frame is due, or until another thread changes the
// stream (the caller looks again); -EINTR when a signal came first. Frames
// whose time passed without a queued buffer are lost.
int wait_for_frame(const driver_state* d);
// True when the next frame is due now (always, unpaced).
bool frame_due_now(const driver_state* d);
// Sets the device's timer `fd` readable from when a frame can be dequeued.
void update_readiness(int fd);

}  // namespace boardsim
