// SPDX-License-Identifier: MIT
// The device's open files, as a kernel keeps them: each open is one file;
// descriptors made from it by dup(), dup2(), dup3() or fcntl(F_DUPFD) share
// it, and it is released when its last descriptor is closed. The buffer
// owner and the access priority belong to the file, not to a descriptor.
#pragma once

#include <cstdint>

namespace boardsim {

// Registers descriptor `fd` of a fresh open; the file's id (never 0).
uint32_t open_file_new(int fd);
// Descriptor `to` now refers to the same file as `from`.
void open_file_dup(int from, int to);
// The file of descriptor `fd`; 0 when it is not a descriptor of the device.
uint32_t open_file_of(int fd);
// Forgets descriptor `fd`; the file's id if that was its last descriptor, else 0.
uint32_t open_file_forget(int fd);

}  // namespace boardsim
