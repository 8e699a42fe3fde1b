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
    uint64_t copied_ = 0;
};
