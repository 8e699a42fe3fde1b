// SPDX-License-Identifier: MIT
// What one viewer's socket is sent: pieces go out straight from where they
// lie (the mapped capture buffer); whatever the socket does not take at once
// is copied into a buffer kept for this viewer alone and sent as the socket
// drains. A viewer that keeps up costs no copy and no allocation.
#pragma once

#include <sys/uio.h>

#include <cstdint>
#include <span>
#include <vector>

#include "unique_fd.h"

// What a viewer's TCP socket still holds of what it was sent, from the
// kernel's view of the connection.
struct socket_backlog {
    uint32_t unsent = 0;         // in the send queue, not yet sent
    uint32_t unacked = 0;        // sent, not yet acknowledged (a slow link)
    uint32_t window = 0;         // the peer's receive window as last advertised
    uint32_t widest_window = 0;  // the widest it has advertised
    int64_t since_send_ms = 0;   // since new bytes were last given to it
};

// Whether a new part would wait behind older bytes: the kernel still holds
// more than a little of them, or the peer's receive buffer is not empty
// (its window is narrower than it has been: a reader slower than the link).
// A peer stops announcing its window once it is half open; from then on
// its buffer counts as empty a while after the last bytes went.
[[nodiscard]] bool holds_old_bytes(const socket_backlog& backlog);

enum class send_result {
    done,     // everything is out
    pending,  // a rest waits for the socket (busy() until flushed)
    gone,     // the viewer has closed or the socket failed
};

class viewer_output {
  public:
    explicit viewer_output(unique_fd socket, int64_t now_ms)
        : socket_(std::move(socket)), last_progress_ms_(now_ms) {}

    [[nodiscard]] int fd() const { return socket_.get(); }
    // A rest of earlier pieces is still waiting.
    [[nodiscard]] bool busy() const { return sent_ < pending_.size(); }
    // Bytes of the rest still to be sent.
    [[nodiscard]] size_t waiting() const { return pending_.size() - sent_; }
    // Sends `pieces` whole, or as far as the socket takes them and keeps a
    // copy of the rest. Behind a waiting rest they are copied whole.
    send_result send(std::span<const iovec> pieces, int64_t now_ms);
    // Sends what waits, as far as the socket takes it.
    send_result flush(int64_t now_ms);
    // Whether a new part would go out at once rather than behind older
    // bytes held by the kernel; always so for a socket that is not TCP.
    // A peer whose window moves is taking bytes: that counts as progress.
    [[nodiscard]] bool drained(int64_t now_ms);
    // The last check found older bytes still held: no part goes until
    // they are taken.
    [[nodiscard]] bool held() const { return held_; }
    // Since when the socket has taken no byte of what waits for it.
    [[nodiscard]] int64_t last_progress_ms() const { return last_progress_ms_; }
    // Bytes copied into the rest buffer so far.
    [[nodiscard]] uint64_t copied() const { return copied_; }

  private:
    void keep(std::span<const iovec> pieces, size_t skip);

    unique_fd socket_;
    std::vector<uint8_t> pending_;
    size_t sent_ = 0;  // of pending_
    int64_t last_progress_ms_;
    int64_t last_send_ms_ = 0;  // when new pieces were last sent
    uint64_t copied_ = 0;
    uint32_t widest_window_ = 0;
    uint64_t window_edge_ = 0;  // acknowledged bytes and window: moves as the peer reads
    bool held_ = false;
    uint8_t clear_checks_ = 0;  // checks that found nothing old since it was held
    bool tcp_ = true;           // until the socket says otherwise
};
