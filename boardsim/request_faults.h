// SPDX-License-Identifier: MIT
// Failures the settings inject before the driver serves a request: the
// burst every request first fails with (EINTR, EAGAIN: a driver that is
// interrupted or busy), and a request failing by name on its Nth call.
#pragma once

namespace boardsim {

// The request's name as the trace and BOARDSIM_FAIL write it; "ioctl" for
// requests the board's programs do not send.
const char* request_name(unsigned long request);
// The failure injected into this call of `request`, with its trace line
// written: a negative error number, or 0 when the request goes through.
int injected_failure(unsigned long request);
// The error number BOARDSIM_FAIL gives this call of request `name`; 0 for none.
int named_request_fault(const char* name);

}  // namespace boardsim
