// SPDX-License-Identifier: MIT
// The trace file's bound, shared by the preload and the simulator's own
// programs: a soak run appends lines for hours, and must not fill the disk.
#pragma once

#include <cstddef>
#include <cstdint>

namespace boardsim {

// The default bound of $BOARDSIM_DIR/trace in bytes (BOARDSIM_TRACE_MAX): a
// day of a paced stream's lines.
inline constexpr uint32_t kTraceMaxDefault = 256U << 20U;

// Appends one whole line (ending in a newline) to the trace open on `fd` with
// O_APPEND, unless the file has reached `max_bytes`; the line that reaches it
// is followed by a note that the trace was cut, and nothing comes after.
void trace_append(int fd, const char* line, size_t length, uint64_t max_bytes);

// BOARDSIM_TRACE_MAX, for programs that do not load the preload's settings;
// a value that is not a number of bytes up to UINT32_MAX stops the program
// with status 125, as the preload does.
uint64_t trace_max_bytes_from_environment();

}  // namespace boardsim
