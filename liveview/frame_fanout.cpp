#include "frame_fanout.h"

#include <array>

namespace {

iovec piece(const void* data, size_t length) {
    return {const_cast<void*>(data), length};
}

iovec piece(std::string_view text) {
    return piece(text.data(), text.size());
}

}  // namespace

frame_fanout::frame_fanout() : header_(reserve_part_header_buffer(kBoundary)) {
    closing_length_ = format_closing_boundary(closing_, sizeof closing_, kBoundary);
}

uint64_t frame_fanout::deliver(std::span<viewer> viewers, const shared_frame& frame,
                               int64_t now_ms) {
    const size_t header_length =
        format_part_header(header_.text, header_.size, kBoundary, frame.size, frame.t_usec);
    const size_t snapshot_head_length =
        format_snapshot_head(snapshot_head_, sizeof snapshot_head_, frame.size);
    const iovec image = piece(frame.image, frame.size);
    const std::array<iovec, 4> first_part{piece(kStreamHead), piece(header_.text, header_length),
                                          image, piece("\r\n", 2)};
    const std::array<iovec, 2> picture{piece(snapshot_head_, snapshot_head_length), image};
    uint64_t sent = 0;
    for (viewer& each : viewers) {
        if (each.phase == viewer_phase::waiting && each.wants == viewer_request::snapshot) {
            each.finish(picture, now_ms);
        } else if (each.phase == viewer_phase::waiting) {
            each.send_part(first_part, now_ms);
        } else if (each.phase == viewer_phase::streaming && !each.out.busy()) {
            each.send_part(std::span(first_part).subspan(1), now_ms);
        } else {
            continue;  // not there yet, finishing, or still sending an earlier part
        }
        ++sent;
    }
    return sent;
}

void frame_fanout::end_all(std::span<viewer> viewers, int64_t now_ms) const {
    const iovec closing = piece(closing_, closing_length_);
    for (viewer& each : viewers) {
        if (each.phase == viewer_phase::streaming) {
            each.finish({&closing, 1}, now_ms);
        } else if (each.phase == viewer_phase::waiting) {
            each.finish(kUnavailable, now_ms);
        }
    }
}

void frame_fanout::refuse_waiting(std::span<viewer> viewers, int64_t now_ms) {
    for (viewer& each : viewers) {
        if (each.phase == viewer_phase::waiting) {
            each.finish(kUnavailable, now_ms);
        }
    }
}
