// One streamer at a time, as on the board: the open file that requested
// buffers owns them until it frees them (a request for 0) or is closed, or
// its process dies. Another open file, in this process or another one, may
// query and map the buffers but not request, queue, dequeue or stream them.
#pragma once

namespace boardsim {

// Makes `fd` the owner; -EBUSY when another open file owns the buffers.
int stream_claim(int fd);
// `fd` gives up the buffers (nothing happens when it does not own them).
void stream_release(int fd);
// True when an open file other than `fd` owns the buffers.
bool stream_owned_by_other(int fd);
// True when `fd` owns the buffers.
bool stream_owned_by(int fd);

}  // namespace boardsim
