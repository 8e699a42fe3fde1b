// SPDX-License-Identifier: MIT
// What viewers get while the camera is unavailable: a snapshot is refused
// with 503 and a time to try again; a stream stays open and shows the
// placeholder picture, at once and then once a second, as an ordinary part
// of its body, until the capture's frames come back.
#pragma once

#include <cstdint>
#include <span>

#include "frame_fanout.h"
#include "viewer.h"

class outage_answers {
  public:
    // Answers whoever waits and sends the placeholder when it is due;
    // returns how many were sent a part.
    uint64_t serve(std::span<viewer> viewers, frame_fanout* fanout, int64_t now_ms);
    // The camera is back: the next outage starts with a placeholder at once.
    void reset() { next_part_ms_ = 0; }
    // When the next placeholder is due.
    [[nodiscard]] int64_t next_deadline() const { return next_part_ms_; }

  private:
    int64_t next_part_ms_ = 0;
};
