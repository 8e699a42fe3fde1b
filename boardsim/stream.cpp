// SPDX-License-Identifier: MIT
#include "stream.h"

#include <cerrno>

#include "board_abi.h"
#include "driver_state.h"
#include "open_files.h"
#include "stream_owner.h"
#include "stream_requests.h"
#include "trace.h"

namespace boardsim {

namespace {

// The requests that only the owner of the buffers may make, by name.
const char* owner_only_request_name(unsigned long request) {
    switch (request) {
        case abi::QBUF:
            return "VIDIOC_QBUF";
        case abi::DQBUF:
            return "VIDIOC_DQBUF";
        case abi::STREAMON:
            return "VIDIOC_STREAMON";
        case abi::STREAMOFF:
            return "VIDIOC_STREAMOFF";
        default:
            return nullptr;
    }
}

using request_server = int (*)(int fd, unsigned long request, void* arg);
constexpr request_server kConcerns[] = {format_ioctl, parameter_ioctl, control_ioctl, buffer_ioctl,
                                        queue_ioctl};

}  // namespace

int stream_ioctl(int fd, unsigned long request, void* arg) {
    if (driver() == nullptr) {
        return -EIO;
    }
    if (const char* name = owner_only_request_name(request); name != nullptr) {
        const uint32_t file = open_file_of(fd);
        if (stream_owned_by_other(file)) {
            trace("%s = -EBUSY", name);
            return -EBUSY;
        }
        // Without buffers of its own a file has nothing to queue or stream:
        // a state left by another process is not this file's to use.
        if (request != abi::STREAMOFF && !stream_owned_by(file)) {
            return -EINVAL;
        }
    }
    for (const request_server serve : kConcerns) {
        if (const int rc = serve(fd, request, arg); rc != -ENOTTY) {
            return rc;
        }
    }
    return -ENOTTY;
}

}  // namespace boardsim
