// SPDX-License-Identifier: MIT
#include "viewer_output.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr int kSendFlags = MSG_NOSIGNAL | MSG_DONTWAIT;

size_t total_length(std::span<const iovec> pieces) {
    size_t total = 0;
    for (const iovec& piece : pieces) {
        total += piece.iov_len;
    }
    return total;
}

// Bytes the socket took (0 when it is full), or -1 when it failed.
ssize_t send_pieces(int fd, std::span<const iovec> pieces) {
    msghdr message{};
    message.msg_iov = const_cast<iovec*>(pieces.data());
    message.msg_iovlen = pieces.size();
    for (;;) {
        const ssize_t sent = sendmsg(fd, &message, kSendFlags);
        if (sent >= 0) {
            return sent;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return 0;
        }
        if (errno != EINTR) {
            return -1;
        }
    }
}

}  // namespace

void viewer_output::keep(std::span<const iovec> pieces, size_t skip) {
    if (!busy()) {
        pending_.clear();  // keeps its capacity for the next rest
        sent_ = 0;
    }
    for (const iovec& piece : pieces) {
        if (skip >= piece.iov_len) {
            skip -= piece.iov_len;
            continue;
        }
        const auto* bytes = static_cast<const uint8_t*>(piece.iov_base);
        pending_.insert(pending_.end(), bytes + skip, bytes + piece.iov_len);
        copied_ += piece.iov_len - skip;
        skip = 0;
    }
}

send_result viewer_output::send(std::span<const iovec> pieces, int64_t now_ms) {
    if (busy()) {
        keep(pieces, 0);
        return send_result::pending;
    }
    const ssize_t sent = send_pieces(socket_.get(), pieces);
    if (sent < 0) {
        return send_result::gone;
    }
    // Nothing was waiting: the time without a byte taken counts from now.
    last_progress_ms_ = now_ms;
    const auto taken = static_cast<size_t>(sent);
    if (taken == total_length(pieces)) {
        return send_result::done;
    }
    keep(pieces, taken);
    return send_result::pending;
}

send_result viewer_output::flush(int64_t now_ms) {
    if (!busy()) {
        return send_result::done;
    }
    const iovec rest{pending_.data() + sent_, pending_.size() - sent_};
    const ssize_t sent = send_pieces(socket_.get(), {&rest, 1});
    if (sent < 0) {
        return send_result::gone;
    }
    if (sent > 0) {
        last_progress_ms_ = now_ms;
    }
    sent_ += static_cast<size_t>(sent);
    return busy() ? send_result::pending : send_result::done;
}
