#include "outage_answers.h"

#include "http_responses.h"
#include "monotonic_clock.h"
#include "placeholder.h"
#include "responses.h"

namespace {

constexpr int64_t kPlaceholderPeriodMs = 1000;

}  // namespace

uint64_t outage_answers::serve(std::span<viewer> viewers, frame_fanout* fanout, int64_t now_ms) {
    bool newcomer = false;
    for (viewer& each : viewers) {
        if (each.phase != viewer_phase::waiting) {
            continue;
        }
        if (each.wants == viewer_request::snapshot) {
            each.finish(each.protocol == viewer_protocol::http ? kHttpCameraUnavailable
                                                               : kCameraUnavailable,
                        now_ms);
        } else {
            newcomer = true;  // a stream that has not even its head yet
        }
    }
    if (!newcomer && now_ms < next_part_ms_) {
        return 0;
    }
    next_part_ms_ = now_ms + kPlaceholderPeriodMs;
    const std::span<const uint8_t> picture = placeholder_jpeg();
    const shared_frame placeholder{picture.data(), static_cast<uint32_t>(picture.size()),
                                   clock_usec(CLOCK_REALTIME)};
    return fanout->deliver(viewers, placeholder, now_ms);
}
