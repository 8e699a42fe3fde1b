// SPDX-License-Identifier: MIT
#include "out_file.h"

#include <error.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "stop_grace.h"
#include "xalloc.h"

out_file* out_file_open(const char* path, int flags, mode_t mode) {
    auto* sink = static_cast<out_file*>(xmalloc(sizeof(out_file)));
    if (std::strcmp(path, "-") == 0) {
        sink->name = xstrdup("stdout");
        sink->fd = 1;
        return sink;
    }
    sink->name = xstrdup(path);
    sink->fd = open(path, flags, mode);
    // O_NOATIME is refused for a file the caller does not own; the access
    // time is not worth losing the output for.
    if (sink->fd < 0 && errno == EPERM && (flags & O_NOATIME) != 0) {
        sink->fd = open(path, flags & ~O_NOATIME, mode);
    }
    if (sink->fd < 0) {
        error(1, errno, "Can't open %s", path);
    }
    return sink;
}

namespace {

// Waits until fd can take data again. 0, or -1 with errno when the wait
// failed or a stop gave it up; an error event shows in the next write.
int wait_writable(int fd) {
    for (;;) {
        pollfd watch{fd, POLLOUT, 0};
        if (poll(&watch, 1, -1) >= 0) {
            return 0;
        }
        if (errno != EINTR || !stop_grace_retry()) {
            return -1;
        }
    }
}

}  // namespace

int write_all(int fd, const void* data, size_t n) {
    const auto* rest = static_cast<const char*>(data);
    bool first = true;
    do {
        const ssize_t written = write(fd, rest, n);
        if (written < 0) {
            if (errno == EAGAIN) {
                if (wait_writable(fd) < 0) {
                    return -1;
                }
                continue;  // a non-blocking sink that can take data again
            }
            if (errno == EINTR && stop_grace_retry()) {
                continue;  // stopping, but the reader still takes bytes
            }
            return static_cast<int>(written);
        }
        if (written > 0) {
            stop_grace_progress();
        }
        rest += written;
        n -= static_cast<size_t>(written);
        if (!first) {
            sched_yield();  // let the reader drain what is there
        }
        first = false;
    } while (n != 0);
    return 0;
}

int out_file_write(out_file* sink, const void* data, size_t n) {
    if (sink == nullptr) {
        return 0;
    }
    if (write_all(sink->fd, data, n) < 0) {
        error(0, errno, "Can't write to %s", sink->name);
        return 1;
    }
    return 0;
}

void out_file_close(out_file* sink) {
    if (sink == nullptr) {
        return;
    }
    if (sink->fd >= 0) {
        if (close(sink->fd) != 0) {
            error(0, errno, "Error closing %s", sink->name);
        }
        sink->fd = -1;
    }
    std::free(sink->name);
    std::free(sink);
}
