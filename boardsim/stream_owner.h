// SPDX-License-Identifier: MIT
// One streamer at a time, as on the board: the open file that requested
// buffers owns them until it frees them (a request for 0) or is closed, or
// its process dies. Another open file, in this process or another one, may
// query and map the buffers but not request, queue, dequeue or stream them.
#pragma once

#include <cstdint>

namespace boardsim {

// Open files are named by their id (open_files.h).
// Makes `file` the owner; -EBUSY when another open file owns the buffers.
int stream_claim(uint32_t file);
// `file` gives up the buffers (nothing happens when it does not own them).
void stream_release(uint32_t file);
// True when an open file other than `file` owns the buffers.
bool stream_owned_by_other(uint32_t file);
// True when `file` owns the buffers.
bool stream_owned_by(uint32_t file);

}  // namespace boardsim
