// SPDX-License-Identifier: MIT
#include "named_pipe.h"

#include <error.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "xalloc.h"

namespace {

// Why a path that exists is not the peer's pipe; 0 when it is a FIFO.
int not_a_fifo_error(const struct stat& st) {
    if (S_ISFIFO(st.st_mode)) {
        return 0;
    }
    return S_ISDIR(st.st_mode) ? EISDIR : EEXIST;
}

// Empties a reused pipe: a peer of an earlier run may have answered after
// that run stopped, and no answer is legitimate before the first frame.
// The pipe is open for writing here too, so a read that poll allows never
// waits.
void drain_stale_answers(int fd) {
    pollfd watch{fd, POLLIN, 0};
    while (poll(&watch, 1, 0) == 1 && (watch.revents & POLLIN) != 0) {
        char stale[64];
        if (read(fd, stale, sizeof stale) <= 0) {
            return;
        }
    }
}

}  // namespace

int named_pipe_open(const char* base, const char* suffix) {
    const size_t base_length = std::strlen(base);
    const size_t suffix_length = std::strlen(suffix);
    char* path = xstrdup(base);
    path = static_cast<char*>(xrealloc(path, base_length + suffix_length + 1));
    std::memcpy(path + base_length, suffix, suffix_length + 1);

    if (mkfifo(path, 0660) != 0) {
        if (errno != EEXIST) {
            error(1, errno, "Can't create named pipe %s", path);
        }
        // Reusing a pipe left by an earlier run is fine; anything else under
        // that name (a file, a directory, a device) is not ours to open.
        struct stat st;
        if (stat(path, &st) != 0) {
            error(1, errno, "Can't open named pipe %s", path);
        }
        if (const int why = not_a_fifo_error(st); why != 0) {
            error(1, why, "Can't open named pipe %s", path);
        }
    }
    // Read-write: the open does not wait for a peer, and the write end kept
    // here means a read never sees end-of-file.
    const int fd = open(path, O_RDWR);
    if (fd < 0) {
        error(1, errno, "Can't open named pipe %s", path);
    }
    drain_stale_answers(fd);
    struct stat st;
    if (fstat(fd, &st) == 0) {
        if (const int why = not_a_fifo_error(st); why != 0) {
            error(1, why, "Can't open named pipe %s", path);  // replaced under our feet
        }
    }
    std::free(path);
    return fd;
}

int pipe_write_byte(int fd, uint8_t byte) {
    const ssize_t written = write(fd, &byte, 1);
    if (written < 0) {
        const int saved = errno;
        error(0, saved, "can't write to pipe");
        return -saved;
    }
    if (written != 1) {
        error(0, 0, "write to pipe returned %zd", written);
        return -EBADMSG;
    }
    return 0;
}

int pipe_read_byte(int fd) {
    uint8_t byte = 0;
    const ssize_t got = read(fd, &byte, 1);
    if (got < 0) {
        const int saved = errno;
        error(0, saved, "can't read from pipe");
        return -saved;
    }
    if (got == 0) {
        error(0, 0, "input pipe closed");
        return -EPIPE;
    }
    if (got != 1) {
        error(0, 0, "read from pipe returned %zd", got);
        return -EBADMSG;
    }
    return byte;
}

int pipe_read_answer(int fd, int request_fd) {
    pollfd watch[2] = {{fd, POLLIN, 0}, {request_fd, 0, 0}};
    if (poll(watch, 2, -1) < 0) {
        const int saved = errno;
        error(0, saved, "can't read from pipe");
        return -saved;
    }
    // An answer that is there is taken even when the peer left after it.
    const bool answered = (watch[0].revents & POLLIN) != 0;
    if (!answered && (watch[1].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        error(0, 0, "output pipe closed");
        return -EPIPE;
    }
    return pipe_read_byte(fd);
}
