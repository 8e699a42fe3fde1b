// SPDX-License-Identifier: MIT
// The extended control interface (VIDIOC_QUERY_EXT_CTRL, G/S/TRY_EXT_CTRLS)
// that standard clients use, served over the driver's own control requests
// (QUERYCTRL, G_CTRL, S_CTRL) as the kernel's control framework would.
#pragma once

namespace boardsim {

// Serves one of these requests made on `fd`, writing its trace line;
// -ENOTTY for any other request.
int ext_control_ioctl(int fd, unsigned long request, void* arg);

}  // namespace boardsim
