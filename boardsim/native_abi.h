// SPDX-License-Identifier: MIT
// The host's own V4L2 ABI, for standard clients (v4l2-ctl) on a 64-bit host:
// the format and buffer records are laid out differently there, so those
// requests are translated to the board's 32-bit records and served as such.
#pragma once

namespace boardsim {

using board_request_server = int (*)(int fd, unsigned long request, void* arg);

// Serves a request made on `fd` that exists only in the host's ABI; false
// when `request` is not one of them (on a 32-bit host the two ABIs are the same).
bool serve_native_request(int fd, unsigned long request, void* arg, board_request_server serve,
                          int* result);

}  // namespace boardsim
