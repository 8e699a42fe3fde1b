// SPDX-License-Identifier: MIT
// Moving a request's record between the client's memory and the simulator,
// as a kernel driver's copy_from_user/copy_to_user do: a pointer the client
// cannot use gives false (EFAULT to the client), never a crash.
#pragma once

#include <cstddef>

namespace boardsim {

// Copies n bytes from the client's `from` into `to`; false if `from` is unreadable.
bool copy_from_user(void* to, const void* from, size_t n);
// Copies n bytes from `from` into the client's `to`; false if `to` is unwritable.
bool copy_to_user(void* to, const void* from, size_t n);

}  // namespace boardsim
