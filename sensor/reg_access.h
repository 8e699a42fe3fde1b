// SPDX-License-Identifier: MIT
// Internal to the sensor library: how the driver exposes the sensor's
// registers. Programs never look at it; the first register access of the
// process decides it (mt9d131_probe_access) and it never changes after that.
#pragma once

enum class reg_access : int {
    REG_ACCESS_UNKNOWN = 0,
    REG_ACCESS_DBG = 1,         // the V4L2 debug register requests
    REG_ACCESS_CAM_SENSOR = 2,  // the driver's private register requests
};

// One per process, not per descriptor: opening the device again does not
// probe again.
extern reg_access reg_access_method;
