#include "viewer.h"

#include <cerrno>
#include <cstring>

#include "responses.h"

void viewer::take_request_line(std::string_view line, int64_t now_ms) {
    if (line == "stream") {
        wants = viewer_request::stream;
    } else if (line == "snapshot") {
        wants = viewer_request::snapshot;
    } else {
        finish(kBadRequest, now_ms);
        return;
    }
    phase = viewer_phase::waiting;
}

void viewer::read_input(int64_t now_ms) {
    char scratch[64];
    const bool reading_request = phase == viewer_phase::request;
    char* into = reading_request ? line_ + line_used_ : scratch;
    const size_t room = reading_request ? sizeof line_ - line_used_ : sizeof scratch;
    const ssize_t got = read(out.fd(), into, room);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
    }
    if (got <= 0) {
        phase = viewer_phase::done;  // the client has gone (or its socket failed)
        return;
    }
    if (!reading_request) {
        return;
    }
    line_used_ += static_cast<size_t>(got);
    if (const void* end = std::memchr(line_, '\n', line_used_)) {
        take_request_line({line_, static_cast<size_t>(static_cast<const char*>(end) - line_)},
                          now_ms);
    } else if (line_used_ == sizeof line_) {
        finish(kBadRequest, now_ms);
    }
}

void viewer::finish(std::span<const iovec> pieces, int64_t now_ms) {
    const send_result result = out.send(pieces, now_ms);
    phase = result == send_result::pending ? viewer_phase::closing : viewer_phase::done;
}

void viewer::finish(std::string_view text, int64_t now_ms) {
    const iovec piece{const_cast<char*>(text.data()), text.size()};
    finish({&piece, 1}, now_ms);
}

void viewer::flush(int64_t now_ms) {
    const send_result result = out.flush(now_ms);
    if (result == send_result::gone ||
        (result == send_result::done && phase == viewer_phase::closing)) {
        phase = viewer_phase::done;
    }
}

void viewer::send_part(std::span<const iovec> pieces, int64_t now_ms) {
    if (out.send(pieces, now_ms) == send_result::gone) {
        phase = viewer_phase::done;
        return;
    }
    phase = viewer_phase::streaming;
}

void viewer::discard_input() const {
    char scratch[256];
    while (read(out.fd(), scratch, sizeof scratch) > 0) {
    }
}

int64_t viewer::stalled_since_ms() const {
    if (phase == viewer_phase::request) {
        return since_ms_;
    }
    return out.busy() ? out.last_progress_ms() : -1;
}
