// SPDX-License-Identifier: MIT
#include "viewer_output.h"

#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace {

constexpr int kSendFlags = MSG_NOSIGNAL | MSG_DONTWAIT;

// What the kernel may still hold of a viewer's bytes when its next part
// goes: a part's head and a little, a few milliseconds on a slow link.
constexpr uint32_t kOldBytesSlack = 4096;
// Window updates come in steps; a window within this share of the widest
// counts as wide open (a 16th: 1 KiB of a 16 KiB buffer).
constexpr uint32_t kWindowSlackShare = 16;
// How long a peer whose window is half open is given to empty its buffer
// of the last part: a 50 KB part at 200 KB/s needs 250 ms.
constexpr int64_t kSettleMs = 400;

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

bool holds_old_bytes(const socket_backlog& backlog) {
    if (backlog.unsent + backlog.unacked > kOldBytesSlack) {
        return true;
    }
    if (backlog.window + backlog.widest_window / kWindowSlackShare >= backlog.widest_window) {
        return false;
    }
    return backlog.window < backlog.widest_window / 2 || backlog.since_send_ms < kSettleMs;
}

bool viewer_output::drained(int64_t now_ms) {
    if (!tcp_) {
        return true;
    }
    tcp_info info{};
    socklen_t length = sizeof info;
    if (getsockopt(socket_.get(), IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
        length < offsetof(tcp_info, tcpi_snd_wnd) + sizeof info.tcpi_snd_wnd) {
        tcp_ = false;  // a unix socket, or a kernel too old to say
        return true;
    }
    widest_window_ = std::max(widest_window_, info.tcpi_snd_wnd);
    const uint64_t edge = info.tcpi_bytes_acked + info.tcpi_snd_wnd;
    if (edge != window_edge_) {
        window_edge_ = edge;
        last_progress_ms_ = now_ms;
    }
    if (holds_old_bytes({info.tcpi_notsent_bytes, info.tcpi_unacked * info.tcpi_snd_mss,
                         info.tcpi_snd_wnd, widest_window_, now_ms - last_send_ms_})) {
        held_ = true;
        clear_checks_ = 0;
        return false;
    }
    // A peer that was behind still holds up to a window step of old bytes
    // when its window is first seen wide open; one more frame's time lets
    // it read them.
    if (held_ && ++clear_checks_ < 2) {
        return false;
    }
    held_ = false;
    return true;
}

void viewer_output::keep(std::span<const iovec> pieces, size_t skip) {
    if (!busy()) {
        pending_.clear();
        sent_ = 0;
        pending_.reserve(total_length(pieces) - skip);  // one allocation for the rest
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
    last_send_ms_ = now_ms;
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
    if (busy()) {
        return send_result::pending;
    }
    // A viewer that lagged once does not keep a part's worth of memory for
    // the rest of its connection.
    std::vector<uint8_t>().swap(pending_);
    sent_ = 0;
    return send_result::done;
}
