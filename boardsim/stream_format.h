// SPDX-License-Identifier: MIT
// Format negotiation: the sizes and pixel formats the sensor and its scaler
// deliver, and the format requests (set, try, get, enumerate).
#pragma once

#include <cstdint>

#include "driver_state.h"

namespace boardsim {

// Brings a requested format to what the driver can deliver and keeps it in `d`.
void adjust_format(driver_state* d, uint32_t width, uint32_t height, uint32_t pixfmt);

}  // namespace boardsim
