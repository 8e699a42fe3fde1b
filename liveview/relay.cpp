// SPDX-License-Identifier: MIT
#include "relay.h"

#include <error.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "monotonic_clock.h"
#include "responses.h"
#include "unix_socket.h"

namespace {

constexpr size_t kChunk = 65536;

// What a HEAD request gets: the head a GET's answer would start with.
constexpr std::string_view kSnapshotHead =
    "Content-Type: image/jpeg\r\n"
    "Cache-Control: no-cache\r\n\r\n";

constexpr std::string_view kMethodNotAllowed =
    "Status: 405 Method Not Allowed\r\n"
    "Allow: GET, HEAD\r\n"
    "Content-Type: text/plain\r\n\r\n"
    "Only GET and HEAD are answered here.\n";

enum class request_method { get, head, other };

// The web server says which method the client used in the CGI variable
// REQUEST_METHOD, the interface a CGI program has; a relay run by hand has
// none and asks as GET.
request_method method_of_request() {
    const char* name = std::getenv("REQUEST_METHOD");
    if (name == nullptr || *name == '\0' || std::strcmp(name, "GET") == 0) {
        return request_method::get;
    }
    return std::strcmp(name, "HEAD") == 0 ? request_method::head : request_method::other;
}

bool write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        text.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

// The head of a response: what precedes its first empty line.
std::string_view head_of(std::string_view response) {
    const size_t end = response.find("\r\n\r\n");
    return end == std::string_view::npos ? response : response.substr(0, end + 4);
}

enum class copy_end { done, reader_gone, reader_stalled, no_answer };

// The server's response on its way to standard output: spliced where that
// is a pipe, else read into a chunk and written from there. Neither side
// blocks: a reader that takes nothing must not hold the relay.
class response_copy {
  public:
    explicit response_copy(int socket) : socket_(socket) {}

    // Copies until the server ends the response or the reader goes away,
    // or until the reader has taken nothing for `drop_ms` while bytes
    // waited for it.
    copy_end run(int64_t drop_ms);

  private:
    enum class wake { ready, reader_gone, reader_stalled, failed };

    // Waits for the server's bytes, or, while bytes wait for the reader,
    // for room at the reader, at most until the drop time has passed.
    [[nodiscard]] wake wait(int64_t drop_ms) const;
    // Moves some bytes on: their count, 0 at the server's end, or -1 with
    // errno (EAGAIN: standard output takes nothing now).
    ssize_t step();
    ssize_t write_chunk();
    // The server ended the response, or the copy failed: whether it had
    // answered.
    [[nodiscard]] copy_end ended() const {
        return answered_ ? copy_end::done : copy_end::no_answer;
    }

    int socket_;
    bool answered_ = false;
    int64_t blocked_since_ms_ = -1;  // bytes have waited for the reader since
    bool splice_works_ = true;
    size_t chunk_sent_ = 0;
    size_t chunk_length_ = 0;
    static char chunk_[kChunk];
};

char response_copy::chunk_[kChunk];

response_copy::wake response_copy::wait(int64_t drop_ms) const {
    for (;;) {
        const bool blocked = blocked_since_ms_ >= 0;
        pollfd watch[2] = {{socket_, static_cast<short>(blocked ? 0 : POLLIN), 0},
                           {1, static_cast<short>(blocked ? POLLOUT : 0), 0}};
        const int64_t left_ms = blocked_since_ms_ + drop_ms - monotonic_ms();
        const int timeout =
            blocked ? static_cast<int>(std::clamp<int64_t>(left_ms, 0, INT_MAX)) : -1;
        const int ready = poll(watch, 2, timeout);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return wake::failed;
        }
        if ((watch[1].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            return wake::reader_gone;
        }
        return ready == 0 ? wake::reader_stalled : wake::ready;
    }
}

copy_end response_copy::run(int64_t drop_ms) {
    fcntl(socket_, F_SETFL, O_NONBLOCK);
    for (;;) {
        switch (wait(drop_ms)) {
            case wake::ready:
                break;
            case wake::reader_gone:
                return copy_end::reader_gone;
            case wake::reader_stalled:
                return copy_end::reader_stalled;
            case wake::failed:
                return ended();
        }
        const ssize_t moved = step();
        if (moved > 0) {
            answered_ = true;
            blocked_since_ms_ = -1;
            continue;
        }
        if (moved < 0 && errno == EAGAIN) {
            // The socket had bytes (or the chunk has): the reader is full.
            if (blocked_since_ms_ < 0) {
                blocked_since_ms_ = monotonic_ms();
            }
            continue;
        }
        if (moved < 0 && errno == EPIPE) {
            return copy_end::reader_gone;
        }
        if (moved == 0 || errno != EINTR) {
            return ended();  // the server's end, or a failure
        }
    }
}

ssize_t response_copy::step() {
    if (splice_works_) {
        const ssize_t moved =
            splice(socket_, nullptr, 1, nullptr, kChunk, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (moved >= 0 || errno != EINVAL) {
            return moved;
        }
        splice_works_ = false;  // not a pipe: copy instead
    }
    if (chunk_sent_ == chunk_length_) {
        const ssize_t got = read(socket_, chunk_, sizeof chunk_);
        if (got <= 0) {
            return got;
        }
        chunk_sent_ = 0;
        chunk_length_ = static_cast<size_t>(got);
    }
    return write_chunk();
}

// A socket is written without waiting; a file or a terminal takes
// everything in its time anyway.
ssize_t response_copy::write_chunk() {
    const char* rest = chunk_ + chunk_sent_;
    const size_t length = chunk_length_ - chunk_sent_;
    ssize_t written = send(1, rest, length, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (written < 0 && errno == ENOTSOCK) {
        written = write(1, rest, length);
    }
    if (written > 0) {
        chunk_sent_ += static_cast<size_t>(written);
    }
    return written;
}

// The answer when no server gives one.
int unreachable(request_method method) {
    write_all(1, method == request_method::head ? head_of(kServerUnreachable) : kServerUnreachable);
    return 1;
}

}  // namespace

int run_relay(const vshare_options& options) {
    std::signal(SIGPIPE, SIG_IGN);  // a gone reader shows as EPIPE
    const request_method method = method_of_request();
    if (method == request_method::other) {
        write_all(1, kMethodNotAllowed);
        return 0;
    }
    const unique_fd socket = connect_unix(options.socket);
    if (!socket.valid()) {
        error(0, errno, "can't connect to %s", options.socket);
        return unreachable(method);
    }
    if (method == request_method::head) {
        // No request: the server closes the connection without starting
        // a capture, and the head is what a GET would get.
        write_all(1, options.snapshot ? kSnapshotHead : kStreamHead);
        return 0;
    }
    const std::string_view request = options.snapshot ? "snapshot\n" : "stream\n";
    if (!write_all(socket.get(), request)) {
        error(0, errno, "can't send the request to %s", options.socket);
        return unreachable(method);
    }
    switch (response_copy(socket.get()).run(options.drop_ms)) {
        case copy_end::done:
        case copy_end::reader_gone:
            return 0;
        case copy_end::reader_stalled:
            error(0, 0, "client dropped: it took nothing for %g s",
                  static_cast<double>(options.drop_ms) / 1000);
            return 1;
        case copy_end::no_answer:
            break;
    }
    error(0, 0, "no answer from %s", options.socket);
    return unreachable(method);
}
