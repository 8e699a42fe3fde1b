// SPDX-License-Identifier: MIT
#include "viewer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "http_request.h"
#include "responses.h"

namespace {

// What a streaming viewer may send (and is read) before its input is no
// longer watched: enough for a client that closes politely, nothing for
// one that floods.
constexpr size_t kIgnoredInputBound = 4096;

}  // namespace

viewer::viewer(unique_fd socket, int64_t now_ms, viewer_protocol protocol_of,
               const sockaddr_storage* peer_address)
    : out(std::move(socket), now_ms), protocol(protocol_of), since_ms_(now_ms) {
    if (peer_address != nullptr) {
        peer = *peer_address;
    }
}

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

bool viewer::wants_input() const {
    if (phase == viewer_phase::done || phase == viewer_phase::closing) {
        return false;
    }
    if (phase == viewer_phase::streaming || protocol == viewer_protocol::local) {
        return ignored_ < kIgnoredInputBound;
    }
    // Pipelined requests wait in the buffer; a full one is not added to.
    return request_.size() < kMaxRequestHead;
}

void viewer::read_input(int64_t now_ms) {
    // Requests are small: they are read here and only what came is kept.
    char scratch[2048];
    const bool local_request = protocol == viewer_protocol::local && phase == viewer_phase::request;
    const bool http_request = protocol == viewer_protocol::http && phase != viewer_phase::streaming;
    char* into = scratch;
    size_t room = sizeof scratch;
    if (local_request) {
        into = line_ + line_used_;
        room = sizeof line_ - line_used_;
    } else if (http_request) {
        room = std::min(room, kMaxRequestHead - std::min(request_.size(), kMaxRequestHead));
        if (room == 0) {
            return;
        }
    }
    const ssize_t got = room == 0 ? 0 : read(out.fd(), into, room);
    if (http_request && got > 0) {
        request_.insert(request_.end(), scratch, scratch + got);
    }
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
    }
    if (got <= 0) {
        phase = viewer_phase::done;  // the client has gone (or its socket failed)
        return;
    }
    if (!local_request) {
        if (!http_request) {
            ignored_ += static_cast<size_t>(got);
        }
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

void viewer::take_request(size_t length) {
    request_.erase(request_.begin(),
                   request_.begin() + static_cast<ptrdiff_t>(std::min(length, request_.size())));
    answered_ = true;
}

void viewer::finish(std::span<const iovec> pieces, int64_t now_ms) {
    const send_result result = out.send(pieces, now_ms);
    phase = result == send_result::pending ? viewer_phase::closing : viewer_phase::done;
}

void viewer::finish(std::string_view text, int64_t now_ms) {
    const iovec piece{const_cast<char*>(text.data()), text.size()};
    finish({&piece, 1}, now_ms);
}

void viewer::respond(std::span<const iovec> pieces, int64_t now_ms) {
    if (!terms.keep_alive) {
        finish(pieces, now_ms);
        return;
    }
    const send_result result = out.send(pieces, now_ms);
    if (result == send_result::gone) {
        phase = viewer_phase::done;
    } else if (result == send_result::pending) {
        phase = viewer_phase::responding;
    } else {
        back_to_request(now_ms);
    }
}

void viewer::respond(std::string_view text, int64_t now_ms) {
    const iovec piece{const_cast<char*>(text.data()), text.size()};
    respond({&piece, 1}, now_ms);
}

void viewer::back_to_request(int64_t now_ms) {
    phase = viewer_phase::request;
    wants = viewer_request::none;
    terms = {};
    since_ms_ = now_ms;
}

void viewer::flush(int64_t now_ms) {
    const send_result result = out.flush(now_ms);
    if (result == send_result::gone ||
        (result == send_result::done && phase == viewer_phase::closing)) {
        phase = viewer_phase::done;
    } else if (result == send_result::done && phase == viewer_phase::responding) {
        if (terms.keep_alive) {
            back_to_request(now_ms);
        } else {
            phase = viewer_phase::done;  // the server stops meanwhile
        }
    }
}

void viewer::send_part(std::span<const iovec> pieces, int64_t now_ms) {
    if (out.send(pieces, now_ms) == send_result::gone) {
        phase = viewer_phase::done;
        return;
    }
    if (phase != viewer_phase::streaming) {
        // Its request is answered for good: the buffer is not needed again.
        request_ = {};
    }
    phase = viewer_phase::streaming;
}

void viewer::discard_input() const {
    char scratch[256];
    for (int round = 0; round < 64 && read(out.fd(), scratch, sizeof scratch) > 0; ++round) {
    }
}

int64_t viewer::stalled_since_ms() const {
    if (phase == viewer_phase::request) {
        return since_ms_;
    }
    return out.busy() || out.held() ? out.last_progress_ms() : -1;
}
