// SPDX-License-Identifier: MIT
// vcapture: streams frames from the board's V4L2 capture device to a file,
// standard output or an MJPEG multipart body, optionally sharing its capture
// buffers with a peer process.
#include <error.h>
#include <fcntl.h>

#include <csignal>

#include "capture_params.h"
#include "device_setup.h"
#include "frame_loop.h"
#include "multipart.h"
#include "named_pipe.h"
#include "out_file.h"
#include "stop_grace.h"
#include "stop_signals.h"

namespace {

// An existing file is appended to, never truncated.
constexpr int kSinkFlags = O_WRONLY | O_CREAT | O_NOCTTY | O_APPEND | O_LARGEFILE | O_NOATIME;
constexpr mode_t kSinkMode = 0664;

// The sink named by -out; NULL without it.
out_file* open_sink(const capture_params& params) {
    return params.out != nullptr ? out_file_open(params.out, kSinkFlags, kSinkMode) : nullptr;
}

// The named pipe of the peer's answers, with -pipe; -1 without it.
int open_peer_pipe(const capture_params& params) {
    if (params.pipe == nullptr) {
        return -1;
    }
    const int fd = named_pipe_open(params.pipe, "_r");
    // A gone reader of standard output shows as EPIPE, not as the end.
    std::signal(SIGPIPE, SIG_IGN);
    return fd;
}

void write_closing_boundary(out_file* sink, const part_header_buffer& header,
                            const char* boundary) {
    const size_t len = format_closing_boundary(header.text, header.size, boundary);
    out_file_write(sink, header.text, len);  // not counted: the run is over
}

}  // namespace

int main(int argc, char* argv[]) {
    error(0, 0, "Starting ...");
    capture_params params;
    parse_capture_params(argc, argv, &params);

    out_file* sink = open_sink(params);
    const int pipe_fd = open_peer_pipe(params);
    const capture_device device = capture_device_setup(params, pipe_fd);
    install_stop_signals();
    part_header_buffer header = reserve_part_header_buffer(params.mjpeg_http);

    run_frame_loop(params, {device, sink, pipe_fd, header});

    // Streaming ends before the body does; the pipe stays open to the exit.
    capture_device_teardown(device);
    if (params.mjpeg_http != nullptr) {
        write_closing_boundary(sink, header, params.mjpeg_http);
    }
    capture_device_close(device);
    out_file_close(sink);
    release_part_header_buffer(&header);
    stop_grace_end();  // no timer signal may cut into what the exit still writes
    return 0;
}
