// SPDX-License-Identifier: MIT
#include "outage_answers.h"

#include "http_responses.h"
#include "monotonic_clock.h"
#include "placeholder.h"
#include "responses.h"

namespace {

constexpr int64_t kPlaceholderPeriodMs = 1000;

// 503 with the time to try again: vshare tries the camera within it.
void refuse_snapshot(viewer& each, int64_t now_ms) {
    if (each.protocol == viewer_protocol::local) {
        each.finish(kCameraUnavailable, now_ms);
        return;
    }
    each.respond(http_text_response(503, "The camera is unavailable.\n",
                                    {each.terms.keep_alive, each.terms.minor_version},
                                    each.terms.head_only, "Retry-After: 2\r\n"),
                 now_ms);
}

}  // namespace

uint64_t outage_answers::serve(std::span<viewer> viewers, frame_fanout* fanout, int64_t now_ms) {
    bool newcomer = false;
    for (viewer& each : viewers) {
        if (each.phase != viewer_phase::waiting) {
            continue;
        }
        if (each.wants == viewer_request::snapshot) {
            refuse_snapshot(each, now_ms);
        } else {
            newcomer = true;  // a stream that has not even its head yet
        }
    }
    const bool due = now_ms >= next_part_ms_;
    if (!newcomer && !due) {
        return 0;
    }
    const std::span<const uint8_t> picture = placeholder_jpeg();
    const shared_frame placeholder{picture.data(), static_cast<uint32_t>(picture.size()),
                                   clock_usec(CLOCK_REALTIME)};
    if (!due) {
        // A newcomer gets its first part at once; those already streaming
        // keep to one placeholder a second.
        return fanout->deliver(viewers, placeholder, now_ms, true);
    }
    next_part_ms_ = now_ms + kPlaceholderPeriodMs;
    return fanout->deliver(viewers, placeholder, now_ms);
}
