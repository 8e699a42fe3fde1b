// SPDX-License-Identifier: MIT
// The frames a dequeue delivers, with the frame fault the settings ask for
// (an empty frame, JPEG images without a start or an end marker or with two
// end markers, data past bytesused, bytesused past the buffer, an index
// beyond the buffers), on the frames they name.
#pragma once

#include <cstdint>

#include "driver_state.h"

namespace boardsim {

// Fills `data` (a buffer of the driver's length) with frame `seq`; returns
// the bytesused to report, and in `reported_index` the index to report for
// buffer `index`.
uint32_t produce_frame(const driver_state* d, uint8_t* data, uint32_t index, uint32_t seq,
                       uint32_t* reported_index);

}  // namespace boardsim
