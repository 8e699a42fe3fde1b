// SPDX-License-Identifier: MIT
// The server's unix stream socket: listening on its path (and removing the
// path again), and connecting to it from the relay.
#pragma once

#include <string>

#include "unique_fd.h"

class listening_socket {
  public:
    listening_socket() = default;
    listening_socket(listening_socket&&) = delete;
    ~listening_socket() { close(); }

    // Binds and listens, non-blocking. A socket file left by a server that
    // is gone is replaced; one a server still answers on is refused.
    // Failures are reported.
    bool open(const char* path);
    [[nodiscard]] int fd() const { return fd_.get(); }
    // Stops listening and removes the path.
    void close();

  private:
    unique_fd fd_;
    std::string path_;
};

// A connected, blocking client socket; invalid with errno set on failure.
unique_fd connect_unix(const char* path);
