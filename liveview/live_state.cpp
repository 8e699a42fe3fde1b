// SPDX-License-Identifier: MIT
#include "live_state.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>

#include "tcp_listener.h"

namespace {

constexpr std::array<std::string_view, 5> kStates{"idle", "starting", "live", "unavailable",
                                                  "stopping"};

// Text in a JSON string or a Prometheus label: quotes, backslashes and
// control characters escaped.
std::string escaped(std::string_view text) {
    std::string out;
    for (const char each : text) {
        if (each == '"' || each == '\\') {
            out += '\\';
            out += each;
        } else if (each == '\n') {
            out += R"(\n)";
        } else if (static_cast<unsigned char>(each) < 0x20) {
            char code[8];
            std::snprintf(code, sizeof code, R"(\u%04x)", static_cast<unsigned>(each));
            out += code;
        } else {
            out += each;
        }
    }
    return out;
}

__attribute__((format(printf, 2, 3))) void append(std::string* out, const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length > 0) {
        out->append(text, std::min(static_cast<size_t>(length), sizeof text - 1));
    }
}

struct metric {
    const char* name;
    const char* type;
    const char* help;
};

void describe(std::string* out, const metric& about) {
    append(out, "# HELP vshare_%s %s\n# TYPE vshare_%s %s\n", about.name, about.help, about.name,
           about.type);
}

}  // namespace

viewer_status status_of(const viewer& each, unsigned capture_fps, int64_t now_usec) {
    int in_kernel = 0;
    if (ioctl(each.out.fd(), SIOCOUTQ, &in_kernel) != 0 || in_kernel < 0) {
        in_kernel = 0;
    }
    const bool sent_any = each.counts.sent != 0;
    return {
        describe_address(each.peer),
        "/stream",
        each.terms.fps != 0 ? each.terms.fps : capture_fps,
        each.counts.sent,
        each.counts.skipped,
        static_cast<uint64_t>(in_kernel) + each.out.waiting(),
        sent_any ? (now_usec - each.counts.last_frame_usec) / 1000 : 0,
    };
}

std::string state_json(const capture_status& capture, std::span<const viewer> viewers,
                       unsigned capture_fps, int64_t now_usec) {
    std::string out = R"({"capture":{"state":")";
    out += capture.state;
    out += R"(","reason":")" + escaped(capture.reason) + "\"";
    append(&out,
           ",\"width\":%u,\"height\":%u,\"fps\":%.1f,\"frames\":%" PRIu64 ",\"restarts\":%" PRIu64
           "},\"viewers\":[",
           capture.width, capture.height, capture.fps, capture.frames, capture.restarts);
    bool first = true;
    for (const viewer& each : viewers) {
        if (each.phase != viewer_phase::streaming) {
            continue;
        }
        const viewer_status seen = status_of(each, capture_fps, now_usec);
        out += first ? "{" : ",{";
        first = false;
        out += R"("address":")" + escaped(seen.address) + R"(","path":")" + std::string(seen.path) +
               "\"";
        append(&out,
               ",\"fps\":%u,\"sent\":%" PRIu64 ",\"skipped\":%" PRIu64 ",\"queued\":%" PRIu64
               ",\"age_ms\":%" PRId64 "}",
               seen.fps, seen.sent, seen.skipped, seen.queued, seen.age_ms);
    }
    out += "]}\n";
    return out;
}

std::string state_metrics(const capture_status& capture, std::span<const viewer> viewers,
                          unsigned capture_fps, int64_t now_usec) {
    std::string out;
    describe(&out, {"capture_state", "gauge", "The capture's state: 1 for the one it is in."});
    for (const std::string_view state : kStates) {
        append(&out, "vshare_capture_state{state=\"%.*s\"} %d\n", static_cast<int>(state.size()),
               state.data(), state == capture.state ? 1 : 0);
    }
    // The reason rides as a label, as Prometheus carries texts; no sample
    // while there is none to give.
    describe(&out, {"capture_unavailable_info", "gauge",
                    "Why the camera is unavailable, in the label reason; absent while it is not."});
    if (!capture.reason.empty()) {
        out += R"(vshare_capture_unavailable_info{reason=")" + escaped(capture.reason) + "\"} 1\n";
    }
    describe(&out, {"capture_width", "gauge", "Width of the frames, in pixels."});
    append(&out, "vshare_capture_width %u\n", capture.width);
    describe(&out, {"capture_height", "gauge", "Height of the frames, in pixels."});
    append(&out, "vshare_capture_height %u\n", capture.height);
    describe(&out, {"capture_fps", "gauge", "Frames a second the capture delivers, measured."});
    append(&out, "vshare_capture_fps %.1f\n", capture.fps);
    describe(&out, {"capture_frames_total", "counter", "Frames the capture has delivered."});
    append(&out, "vshare_capture_frames_total %" PRIu64 "\n", capture.frames);
    describe(&out, {"capture_restarts_total", "counter", "Captures restarted after a failure."});
    append(&out, "vshare_capture_restarts_total %" PRIu64 "\n", capture.restarts);

    std::vector<viewer_status> streaming;
    for (const viewer& each : viewers) {
        if (each.phase == viewer_phase::streaming) {
            streaming.push_back(status_of(each, capture_fps, now_usec));
        }
    }
    describe(&out, {"viewers", "gauge", "Viewers streaming."});
    append(&out, "vshare_viewers %zu\n", streaming.size());
    const auto per_viewer = [&out, &streaming](const metric& about, auto value) {
        describe(&out, about);
        for (const viewer_status& each : streaming) {
            out += "vshare_" + std::string(about.name) + R"({address=")" + escaped(each.address) +
                   R"(",path=")" + std::string(each.path) + "\"} ";
            append(&out, "%s\n", std::to_string(value(each)).c_str());
        }
    };
    per_viewer({"viewer_fps", "gauge", "Frames a second the viewer asked for."},
               [](const viewer_status& each) { return each.fps; });
    per_viewer({"viewer_frames_sent_total", "counter", "Frames sent to the viewer."},
               [](const viewer_status& each) { return each.sent; });
    per_viewer({"viewer_frames_skipped_total", "counter",
                "Frames the viewer missed while an earlier one was still going out."},
               [](const viewer_status& each) { return each.skipped; });
    per_viewer({"viewer_queued_bytes", "gauge", "Bytes queued for the viewer."},
               [](const viewer_status& each) { return each.queued; });
    per_viewer({"viewer_frame_age_milliseconds", "gauge", "Age of the last frame it got."},
               [](const viewer_status& each) { return each.age_ms; });
    return out;
}
