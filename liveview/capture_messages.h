// SPDX-License-Identifier: MIT
// vcapture's messages (its standard error), read as they come: each line is
// passed on to vshare's standard error, and two kinds are kept for the
// capture's state: the reports of frames vcapture dropped (too small, no
// JPEG image), and the last other message, which says why a vcapture that
// failed has ended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

class capture_messages {
  public:
    // Reads what waits on `fd`; false once it has ended (or failed).
    bool take(int fd);
    // A new vcapture: nothing kept from the last; with `quiet` none of its
    // lines is passed on (a retry that would repeat its predecessor's).
    void restart(bool quiet);
    // A frame was handed over: the next report of a dropped frame is
    // passed on again. Of a run of them only the first is, or the log
    // would get a line per frame.
    void frame_kept() { drop_told_ = false; }
    // One line of vcapture's, without its end of line.
    void take_line(std::string_view line);

    // Reports of dropped frames since the restart.
    [[nodiscard]] uint64_t drops() const { return drops_; }
    // Why the last frame was dropped, in vcapture's words ("JPEG frame
    // size  1234 < 5000").
    [[nodiscard]] std::string_view last_drop() const { return {drop_, drop_length_}; }
    // The last other line, without the program's name.
    [[nodiscard]] std::string_view last_message() const { return {message_, message_length_}; }

  private:
    void pass_on(std::string_view line) const;

    char pending_[256] = {};  // a line not yet ended
    size_t pending_length_ = 0;
    char drop_[96] = {};
    size_t drop_length_ = 0;
    char message_[192] = {};
    size_t message_length_ = 0;
    uint64_t drops_ = 0;
    bool quiet_ = false;
    bool drop_told_ = false;
};
