// SPDX-License-Identifier: MIT
// What the exported wrappers share: whether the simulator is on, and the
// board's paths that live in the simulator's directory.
#pragma once

namespace boardsim {

// False when BOARDSIM_DIR is unset: every call passes through untouched.
bool simulator_active();
// The path in the simulator's directory that stands for a board path
// (/dev/ttymxc2, /etc/pixim*, the device's sysfs entry); `path` otherwise.
const char* redirect_path(const char* path, char (&buffer)[4096]);

}  // namespace boardsim
