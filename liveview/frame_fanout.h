// SPDX-License-Identifier: MIT
// One frame to every viewer that wants it, straight from the mapped buffer:
// a stream's head with its first part, a part for each viewer that keeps
// up and whose pace allows, a snapshot response; and the ends of the
// bodies when the capture or the server stops.
#pragma once

#include <cstdint>
#include <span>

#include "capture_buffers.h"
#include "multipart.h"
#include "responses.h"
#include "viewer.h"

class frame_fanout {
  public:
    // `capture_fps`: the rate frames come at, by which a viewer's own pace
    // is rounded to whole frames.
    explicit frame_fanout(unsigned capture_fps = 15);
    frame_fanout(frame_fanout&&) = delete;
    ~frame_fanout() { release_part_header_buffer(&header_); }

    // Sends the frame to every viewer waiting for it or keeping up with
    // the stream (only to those waiting, with `waiting_only`); returns how
    // many were sent a part or a picture.
    uint64_t deliver(std::span<viewer> viewers, const shared_frame& frame, int64_t now_ms,
                     bool waiting_only = false);
    // Ends every response: a stream's body with its closing boundary, a
    // viewer still waiting for a picture with "503".
    void end_all(std::span<viewer> viewers, int64_t now_ms) const;
    // Answers every viewer still waiting for its first frame with "503".
    static void refuse_waiting(std::span<viewer> viewers, int64_t now_ms);

  private:
    // Whether a streaming viewer at its own pace takes this frame.
    [[nodiscard]] bool due(const viewer& each, int64_t t_usec) const;
    // Whether a streaming viewer takes this frame: when its pace allows,
    // and neither a rest of its own nor older bytes in the kernel wait
    // (a frame missed for them counts as skipped).
    [[nodiscard]] bool takes_frame(viewer& each, int64_t t_usec, int64_t now_ms) const;
    void send_snapshot(viewer& each, const shared_frame& frame, int64_t now_ms);

    part_header_buffer header_;
    char closing_[32] = {};
    size_t closing_length_ = 0;
    char snapshot_head_[kSnapshotHeadSize] = {};
    int64_t half_period_usec_;
};
