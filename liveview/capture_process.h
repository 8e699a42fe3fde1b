// SPDX-License-Identifier: MIT
// The one vcapture that shares its buffers with vshare: started with its
// standard output a pipe into vshare (the hand-off's index bytes) and its
// standard error another (its messages, which vshare reads and passes on),
// stopped with SIGTERM (SIGKILL if it will not) and reaped.
#pragma once

#include <sys/types.h>

#include <string>

#include "unique_fd.h"
#include "vshare_options.h"

class capture_process {
  public:
    capture_process() = default;
    capture_process(capture_process&&) = delete;
    // A capture still running when vshare ends is killed and reaped.
    ~capture_process();

    // Starts vcapture with the hand-off on `handoff_base`; when it could
    // not be started, why (not yet reported), else nothing.
    std::string start(const vshare_options& options, const std::string& handoff_base);
    [[nodiscard]] bool running() const { return pid_ > 0; }
    // The index bytes; invalid once they have ended.
    [[nodiscard]] int output() const { return output_.get(); }
    void close_output() { output_.reset(); }
    // Its messages; invalid once they have ended.
    [[nodiscard]] int messages() const { return messages_.get(); }
    void close_messages() { messages_.reset(); }
    // Asks vcapture to stop (SIGTERM) or ends it (SIGKILL).
    void signal(int sig) const;
    // Reaps vcapture if it has ended; true then, with its wait status.
    bool reap(int* status);

  private:
    pid_t pid_ = -1;
    unique_fd output_;
    unique_fd messages_;
};

// A wait status in words: "exit status 1", "signal Terminated".
std::string describe_wait_status(int status);
