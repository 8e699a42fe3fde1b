// SPDX-License-Identifier: MIT
#include "http_front.h"

#include <error.h>

#include <array>
#include <charconv>
#include <cstring>
#include <string>

#include "http_responses.h"
#include "monotonic_clock.h"
#include "tcp_listener.h"
#include "www_files.h"

namespace {

iovec piece(const void* data, size_t length) {
    return {const_cast<void*>(data), length};
}

http_connection connection_of(const http_request& request) {
    return {request.keep_alive, request.minor_version};
}

// "1" or "0"; nothing for anything else.
std::optional<bool> flag(std::string_view text) {
    if (text == "1") {
        return true;
    }
    if (text == "0") {
        return false;
    }
    return std::nullopt;
}

// A rate from 1 to `most`; 0 for anything else.
unsigned rate(std::string_view text, unsigned most) {
    unsigned value = 0;
    const auto [end, failed] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (failed != std::errc() || end != text.data() + text.size() || value < 1 || value > most) {
        return 0;
    }
    return value;
}

}  // namespace

void http_front::serve(viewer& each, const live_report& report, int64_t now_ms) {
    while (each.phase == viewer_phase::request && !each.request_bytes().empty()) {
        const http_request request = parse_http_request(each.request_bytes());
        if (request.status == http_parse_status::incomplete) {
            return;
        }
        if (request.status == http_parse_status::refused) {
            // What follows a bad head cannot be told apart: the connection ends.
            each.finish(http_refusal(request.refusal, {}), now_ms);
            return;
        }
        each.terms = {};
        each.terms.keep_alive = request.keep_alive;
        each.terms.minor_version = request.minor_version;
        answer(each, request, report, now_ms);
        // Only now: the request's texts lie in these bytes.
        each.take_request(request.head_length);
    }
}

void http_front::answer(viewer& each, const http_request& request, const live_report& report,
                        int64_t now_ms) {
    const http_connection connection = connection_of(request);
    const bool head_only = request.method == http_method::head;
    const access_decision decision =
        access_.check(request.authorization, describe_host(each.peer), now_ms);
    if (decision.verdict == access_verdict::refused) {
        each.respond(
            http_refusal(401, connection,
                         "WWW-Authenticate: Basic realm=\"camboard\", charset=\"UTF-8\"\r\n",
                         head_only),
            now_ms);
        return;
    }
    if (decision.verdict == access_verdict::limited) {
        each.respond(http_refusal(429, connection,
                                  "Retry-After: " + std::to_string(decision.retry_after_s) + "\r\n",
                                  head_only),
                     now_ms);
        return;
    }
    if (request.method == http_method::other) {
        each.respond(http_refusal(405, connection, "Allow: GET, HEAD\r\n"), now_ms);
        return;
    }
    const unsigned capture_fps = options_.fps;
    const int64_t now_usec = clock_usec(CLOCK_REALTIME);
    if (request.path == "/stream") {
        ask_for_stream(each, request, now_ms);
    } else if (request.path == "/snapshot") {
        each.wants = viewer_request::snapshot;
        each.terms.head_only = head_only;
        each.phase = viewer_phase::waiting;
    } else if (request.path == "/state") {
        each.respond(http_text_response(
                         200, state_json(report.capture, report.viewers, capture_fps, now_usec),
                         connection, head_only, {}, "application/json"),
                     now_ms);
    } else if (request.path == "/metrics") {
        each.respond(http_text_response(
                         200, state_metrics(report.capture, report.viewers, capture_fps, now_usec),
                         connection, head_only, {}, "text/plain; version=0.0.4; charset=utf-8"),
                     now_ms);
    } else {
        send_file(each, request, now_ms);
    }
}

void http_front::ask_for_stream(viewer& each, const http_request& request, int64_t now_ms) const {
    const http_connection connection = connection_of(request);
    const bool head_only = request.method == http_method::head;
    viewer_terms& terms = each.terms;
    if (const auto advance = query_value(request.query, "advance_headers")) {
        const std::optional<bool> value = flag(*advance);
        if (!value) {
            each.respond(http_text_response(400, "advance_headers: expected 0 or 1.\n", connection,
                                            head_only),
                         now_ms);
            return;
        }
        terms.advance_headers = *value;
    }
    if (const auto fps = query_value(request.query, "fps")) {
        terms.fps = rate(*fps, options_.fps);
        if (terms.fps == 0) {
            each.respond(http_text_response(
                             400, "fps: expected 1 to " + std::to_string(options_.fps) + ".\n",
                             connection, head_only),
                         now_ms);
            return;
        }
        terms.period_usec = 1000000 / terms.fps;
    }
    if (head_only) {
        // The head is the same for every stream: no capture needed for it.
        terms.keep_alive = false;
        each.respond(kHttpStreamHead, now_ms);
        return;
    }
    each.wants = viewer_request::stream;
    each.phase = viewer_phase::waiting;
}

void http_front::send_file(viewer& each, const http_request& request, int64_t now_ms) {
    const http_connection connection = connection_of(request);
    std::optional<www_file> file = open_www_file(options_.www, request.path);
    if (!file) {
        each.respond(http_refusal(404, connection, {}, request.method == http_method::head),
                     now_ms);
        return;
    }
    file_.resize(file->size);
    size_t got = 0;
    while (got < file_.size()) {
        const ssize_t read_now = read(file->fd.get(), file_.data() + got, file_.size() - got);
        if (read_now <= 0) {
            break;
        }
        got += static_cast<size_t>(read_now);
    }
    file_.resize(got);
    const std::string head = http_head(200,
                                       "Content-Type: " + std::string(file->type) +
                                           "\r\nContent-Length: " + std::to_string(got) + "\r\n",
                                       connection);
    const std::array<iovec, 2> pieces{piece(head.data(), head.size()),
                                      piece(file_.data(), file_.size())};
    each.respond(std::span(pieces).first(request.method == http_method::head ? 1 : 2), now_ms);
}
