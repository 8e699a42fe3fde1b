// SPDX-License-Identifier: MIT
#include "frame_fanout.h"

#include <array>

#include "http_responses.h"

namespace {

iovec piece(const void* data, size_t length) {
    return {const_cast<void*>(data), length};
}

iovec piece(std::string_view text) {
    return piece(text.data(), text.size());
}

std::string_view stream_head(const viewer& each) {
    return each.protocol == viewer_protocol::http ? kHttpStreamHead : kStreamHead;
}

// Its next time follows on from this one, or from now when it fell behind.
void advance_pace(viewer& each, int64_t t_usec) {
    const int64_t period = each.terms.period_usec;
    viewer_counts& counts = each.counts;
    const bool afresh = counts.sent == 0 || t_usec - counts.next_due_usec >= period ||
                        counts.next_due_usec - t_usec > period;
    counts.next_due_usec = afresh ? t_usec + period : counts.next_due_usec + period;
}

// For HEAD (a snapshot's) the head alone.
std::string_view unavailable(const viewer& each) {
    if (each.protocol == viewer_protocol::local) {
        return kUnavailable;
    }
    return each.terms.head_only ? http_head_only(kHttpUnavailable) : kHttpUnavailable;
}

}  // namespace

frame_fanout::frame_fanout(unsigned capture_fps)
    : header_(reserve_part_header_buffer(kBoundary)),
      half_period_usec_(500000 / static_cast<int64_t>(capture_fps == 0 ? 1 : capture_fps)) {
    closing_length_ = format_closing_boundary(closing_, sizeof closing_, kBoundary);
}

// A viewer that asked for fewer frames takes one when its time has come,
// give or take half a frame, so that the rate it asked for holds on
// average. A clock set back does not hold it up.
bool frame_fanout::due(const viewer& each, int64_t t_usec) const {
    const int64_t period = each.terms.period_usec;
    const int64_t next = each.counts.next_due_usec;
    return period <= 0 || t_usec >= next - half_period_usec_ || next - t_usec > period;
}

bool frame_fanout::takes_frame(viewer& each, int64_t t_usec, int64_t now_ms) const {
    if (each.out.busy()) {
        ++each.counts.skipped;  // still sending an earlier part
        return false;
    }
    if (!due(each, t_usec)) {
        return false;
    }
    if (!each.out.drained(now_ms)) {
        ++each.counts.skipped;  // older bytes still on their way
        return false;
    }
    return true;
}

void frame_fanout::send_snapshot(viewer& each, const shared_frame& frame, int64_t now_ms) {
    const iovec image = piece(frame.image, frame.size);
    if (each.protocol == viewer_protocol::local) {
        const size_t length =
            format_snapshot_head(snapshot_head_, sizeof snapshot_head_, frame.size);
        const std::array<iovec, 2> picture{piece(snapshot_head_, length), image};
        each.finish(picture, now_ms);
        return;
    }
    char head[kHttpSnapshotHeadSize];
    const size_t length =
        format_http_snapshot_head(head, sizeof head, frame.size, frame.t_usec,
                                  {each.terms.keep_alive, each.terms.minor_version});
    const std::array<iovec, 2> picture{piece(head, length), image};
    each.respond(std::span(picture).first(each.terms.head_only ? 1 : 2), now_ms);
}

uint64_t frame_fanout::deliver(std::span<viewer> viewers, const shared_frame& frame, int64_t now_ms,
                               bool waiting_only) {
    const size_t header_length =
        format_part_header(header_.text, header_.size, kBoundary, frame.size, frame.t_usec);
    const iovec image = piece(frame.image, frame.size);
    const iovec header = piece(header_.text, header_length);
    // A stream's head and first part, or (subspan) the next part.
    std::array<iovec, 4> first_part{piece(kStreamHead), header, image, piece("\r\n", 2)};
    std::array<iovec, 4> first_advanced{piece(kHttpStreamHead), piece(kAdvancePartHead), image,
                                        piece(kAdvancePartEnd)};
    uint64_t sent = 0;
    for (viewer& each : viewers) {
        const bool advanced = each.terms.advance_headers;
        if (each.phase == viewer_phase::waiting && each.wants == viewer_request::snapshot) {
            send_snapshot(each, frame, now_ms);
            ++sent;
            continue;
        }
        if (each.phase == viewer_phase::waiting) {
            first_part[0] = piece(stream_head(each));
            each.send_part(advanced ? first_advanced : first_part, now_ms);
        } else if (each.phase == viewer_phase::streaming && !waiting_only) {
            if (!takes_frame(each, frame.t_usec, now_ms)) {
                continue;
            }
            each.send_part(
                std::span(advanced ? first_advanced : first_part).subspan(advanced ? 2 : 1),
                now_ms);
        } else {
            continue;  // not there yet, or finishing
        }
        advance_pace(each, frame.t_usec);
        ++each.counts.sent;
        each.counts.last_frame_usec = frame.t_usec;
        ++sent;
    }
    return sent;
}

void frame_fanout::end_all(std::span<viewer> viewers, int64_t now_ms) const {
    const iovec closing = piece(closing_, closing_length_);
    const iovec advanced = piece(kAdvanceClosing);
    for (viewer& each : viewers) {
        if (each.phase == viewer_phase::streaming) {
            each.finish({each.terms.advance_headers ? &advanced : &closing, 1}, now_ms);
        } else if (each.phase == viewer_phase::waiting) {
            each.finish(unavailable(each), now_ms);
        }
    }
}

void frame_fanout::refuse_waiting(std::span<viewer> viewers, int64_t now_ms) {
    for (viewer& each : viewers) {
        if (each.phase == viewer_phase::waiting) {
            each.finish(unavailable(each), now_ms);
        }
    }
}
