// SPDX-License-Identifier: MIT
// The simulator's trace: one line per emulated request, appended to
// $BOARDSIM_DIR/trace with a single write so that processes sharing a board
// never tear each other's lines, up to its bound (trace_file.h).
#pragma once

namespace boardsim {

// printf-style line; the newline is added.
void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "0" for success, "-EINVAL" for a negative error number.
const char* result_text(int result, char (&buffer)[24]);

}  // namespace boardsim
