// SPDX-License-Identifier: MIT
// The sensor's register requests in the two forms the board's driver knows:
// the V4L2 debug register requests and the driver's private ones (a value
// as two bytes). Either form can be refused by the settings.
#pragma once

namespace boardsim {

// True for VIDIOC_DBG_G/S_REGISTER and VIDIOC_G/S_CAM_SENSOR_REG.
bool is_register_request(unsigned long request);
// Serves one of them, writing its trace line.
int register_ioctl(unsigned long request, void* arg);

}  // namespace boardsim
