// SPDX-License-Identifier: MIT
// What vshare answers an HTTP client with: the heads of its responses and
// the short texts of its refusals. Every head says that nothing may be
// cached or sniffed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The fields every response carries.
inline constexpr std::string_view kCommonFields =
    "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n";

// The head of the stream: its body is delimited by the connection's end.
inline constexpr std::string_view kHttpStreamHead =
    "HTTP/1.1 200 OK\r\n"
    "Content-Type: multipart/x-mixed-replace; boundary=frame\r\n"
    "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
    "Connection: close\r\n\r\n";

// The stream with each next part's head sent right after the image before
// it: a browser shows a part once the next head has come. That head can
// carry neither the next image's length nor its time stamp.
inline constexpr std::string_view kAdvancePartHead = "--frame\r\nContent-Type: image/jpeg\r\n\r\n";
inline constexpr std::string_view kAdvancePartEnd =
    "\r\n--frame\r\nContent-Type: image/jpeg\r\n\r\n";
// Its end: the part begun in advance stays empty.
inline constexpr std::string_view kAdvanceClosing = "\r\n--frame--\r\n\r\n";

// No picture to be had (vcapture could not start, or ended before its
// first frame, or vshare is stopping); also the refusal of a viewer when
// the descriptors the capture needs would be touched.
inline constexpr std::string_view kHttpUnavailable =
    "HTTP/1.1 503 Service Unavailable\r\n"
    "Content-Type: text/plain; charset=utf-8\r\nContent-Length: 28\r\n"
    "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
    "Connection: close\r\n\r\n"
    "The camera gave no picture.\n";

// A whole response's head alone, the answer to HEAD: a body after it would
// be read as the start of whatever the client expects next.
constexpr std::string_view http_head_only(std::string_view whole) {
    const size_t end = whole.find("\r\n\r\n");
    return end == std::string_view::npos ? whole : whole.substr(0, end + 4);
}

// How the connection goes on after a response.
struct http_connection {
    bool keep_alive = false;
    int minor_version = 1;
};

// The reason phrase of a status vshare answers with.
std::string_view http_reason(int status);

// A whole response head: the status line, `fields` (each with its CR LF),
// the common fields and the connection's; then the empty line.
std::string http_head(int status, std::string_view fields, http_connection connection);

// A short text response: a refusal or a message. `extra` are further fields.
std::string http_text_response(int status, std::string_view text, http_connection connection,
                               bool head_only, std::string_view extra = {},
                               std::string_view type = "text/plain; charset=utf-8");

// A refusal of its own status with its standard text (only its head for
// HEAD: a kept connection must find the next response where it begins).
std::string http_refusal(int status, http_connection connection, std::string_view extra = {},
                         bool head_only = false);

// Room for a snapshot's head.
inline constexpr size_t kHttpSnapshotHeadSize = 320;

// The head of a snapshot of `length` bytes taken at `t_usec` (wall-clock
// microseconds), named after its local time; returns its length.
size_t format_http_snapshot_head(char* buffer, size_t size, size_t length, int64_t t_usec,
                                 http_connection connection);
