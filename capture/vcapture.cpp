// vcapture: streams frames from the board's V4L2 capture device to a file,
// standard output or an MJPEG multipart body, optionally sharing its capture
// buffers with a peer process.
#include <error.h>
#include <fcntl.h>
#include <signal.h>

#include "capture_params.h"
#include "device_setup.h"
#include "frame_loop.h"
#include "named_pipe.h"
#include "out_file.h"

int main(int argc, char* argv[]) {
    error(0, 0, "Starting ...");
    capture_params params;
    parse_capture_params(argc, argv, &params);

    out_file* sink = nullptr;
    if (params.out != nullptr) {
        sink = out_file_open(
            params.out, O_WRONLY | O_CREAT | O_NOCTTY | O_APPEND | O_LARGEFILE | O_NOATIME, 0664);
    }
    int pipe_fd = -1;
    if (params.pipe != nullptr) {
        pipe_fd = named_pipe_open(params.pipe, "_r");
        // A gone reader of standard output shows as EPIPE, not as the end.
        signal(SIGPIPE, SIG_IGN);
    }

    const capture_device device = capture_device_setup(params, pipe_fd);
    run_frame_loop(params, device, sink, pipe_fd);
    return 0;
}
