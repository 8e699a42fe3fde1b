// One frame to every viewer that wants it, straight from the mapped buffer:
// a stream's head with its first part, a part for each viewer that keeps
// up, a snapshot response; and the ends of the bodies when the capture or
// the server stops.
#pragma once

#include <cstdint>
#include <span>

#include "capture_buffers.h"
#include "multipart.h"
#include "responses.h"
#include "viewer.h"

class frame_fanout {
  public:
    frame_fanout();
    frame_fanout(frame_fanout&&) = delete;
    ~frame_fanout() { release_part_header_buffer(&header_); }

    // Sends the frame to every viewer waiting for it or keeping up with
    // the stream; returns how many were sent a part or a picture.
    uint64_t deliver(std::span<viewer> viewers, const shared_frame& frame, int64_t now_ms);
    // Ends every response: a stream's body with its closing boundary, a
    // viewer still waiting for a picture with "503".
    void end_all(std::span<viewer> viewers, int64_t now_ms) const;
    // Answers every viewer still waiting for its first frame with "503".
    static void refuse_waiting(std::span<viewer> viewers, int64_t now_ms);

  private:
    part_header_buffer header_;
    char closing_[32] = {};
    size_t closing_length_ = 0;
    char snapshot_head_[kSnapshotHeadSize] = {};
};
