// SPDX-License-Identifier: MIT
// Requests that standard V4L2 clients make and the board's programs never
// send: the one camera input, access priorities and frame sizes here, the
// extended control interface in ext_controls.cpp.
#pragma once

#include <cstdint>

namespace boardsim {

// Serves one of these requests made on descriptor `fd`, writing its trace
// line; -ENOTTY for any other request.
int query_ioctl(int fd, unsigned long request, void* arg);

// Access priorities, one per open file (open_files.h), as a driver keeps them.
void priority_open(uint32_t file);
void priority_close(uint32_t file);
// -EBUSY when `request` changes the device and another descriptor holds a
// higher priority than `fd`; 0 otherwise.
int priority_check(int fd, unsigned long request);

}  // namespace boardsim
