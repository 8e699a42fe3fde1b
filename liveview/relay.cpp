#include "relay.h"

#include <error.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string_view>

#include "responses.h"
#include "unix_socket.h"

namespace {

constexpr size_t kChunk = 65536;

bool write_all(int fd, const char* data, size_t length) {
    while (length > 0) {
        const ssize_t written = write(fd, data, length);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        data += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

// Moves what the socket has to standard output: spliced where standard
// output is a pipe, else read and written. 0 at the end of either side.
ssize_t move_some(int socket, bool* splice_works) {
    if (*splice_works) {
        const ssize_t moved = splice(socket, nullptr, 1, nullptr, kChunk, SPLICE_F_MOVE);
        if (moved >= 0 || errno != EINVAL) {
            return moved;
        }
        *splice_works = false;  // not a pipe: copy instead
    }
    static char chunk[kChunk];
    const ssize_t got = read(socket, chunk, sizeof chunk);
    if (got <= 0) {
        return got;
    }
    return write_all(1, chunk, static_cast<size_t>(got)) ? got : -1;
}

// Copies until the server ends the response or the reader of standard
// output goes away. False when the server ended it without a byte.
bool copy_response(int socket) {
    bool splice_works = true;
    bool answered = false;
    for (;;) {
        pollfd watch[2] = {{socket, POLLIN, 0}, {1, 0, 0}};
        if (poll(watch, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return answered;
        }
        if ((watch[1].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            return true;  // nobody reads the response any more
        }
        const ssize_t moved = move_some(socket, &splice_works);
        if (moved == 0 || (moved < 0 && errno != EINTR && errno != EAGAIN)) {
            return answered;
        }
        answered = answered || moved > 0;
    }
}

// The answer when no server gives one.
int unreachable() {
    write_all(1, kServerUnreachable.data(), kServerUnreachable.size());
    return 1;
}

}  // namespace

int run_relay(const vshare_options& options) {
    std::signal(SIGPIPE, SIG_IGN);  // a gone reader shows as EPIPE
    const unique_fd socket = connect_unix(options.socket);
    if (!socket.valid()) {
        error(0, errno, "can't connect to %s", options.socket);
        return unreachable();
    }
    const std::string_view request = options.snapshot ? "snapshot\n" : "stream\n";
    if (!write_all(socket.get(), request.data(), request.size())) {
        error(0, errno, "can't send the request to %s", options.socket);
        return unreachable();
    }
    if (!copy_response(socket.get())) {
        error(0, 0, "no answer from %s", options.socket);
        return unreachable();
    }
    return 0;
}
