// SPDX-License-Identifier: MIT
// The streaming requests, one file for each concern; stream.cpp hands every
// request to each in turn. Each serves its own requests made on descriptor
// `fd`, writing their trace lines, and answers -ENOTTY for any other.
#pragma once

namespace boardsim {

// S_FMT, TRY_FMT, G_FMT, ENUM_FMT (stream_format.cpp).
int format_ioctl(int fd, unsigned long request, void* arg);
// S_PARM, G_PARM, S_JPEGCOMP, G_JPEGCOMP (stream_parameters.cpp).
int parameter_ioctl(int fd, unsigned long request, void* arg);
// QUERYCTRL, G_CTRL, S_CTRL (stream_controls.cpp).
int control_ioctl(int fd, unsigned long request, void* arg);
// REQBUFS, QUERYBUF (stream_buffers.cpp).
int buffer_ioctl(int fd, unsigned long request, void* arg);
// QBUF, DQBUF, STREAMON, STREAMOFF (stream_queue.cpp).
int queue_ioctl(int fd, unsigned long request, void* arg);

}  // namespace boardsim
