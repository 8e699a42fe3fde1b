// SPDX-License-Identifier: MIT
// The texts vshare answers with: each is a whole CGI response (or its head),
// so that the relay only copies bytes.
#pragma once

#include <cstddef>
#include <string_view>

// The boundary of the multipart body, as vcapture's -mjpeg-http frame.
inline constexpr const char* kBoundary = "frame";

inline constexpr std::string_view kStreamHead =
    "Content-Type: multipart/x-mixed-replace; boundary=frame\r\n"
    "Cache-Control: no-cache\r\n\r\n";

// No picture to be had: vcapture could not start or ended before its first
// frame, or vshare is stopping.
inline constexpr std::string_view kUnavailable =
    "Status: 503 Service Unavailable\r\n"
    "Content-Type: text/plain\r\n\r\n"
    "The camera gave no picture.\n";

// The relay's own answer when no server takes its connection.
inline constexpr std::string_view kServerUnreachable =
    "Status: 503 Service Unavailable\r\n"
    "Content-Type: text/plain\r\n\r\n"
    "The live view server is not running.\n";

inline constexpr std::string_view kBadRequest =
    "Status: 400 Bad Request\r\n"
    "Content-Type: text/plain\r\n\r\n"
    "Unknown request: expected \"stream\" or \"snapshot\".\n";

// Room for the snapshot head with any image size.
inline constexpr size_t kSnapshotHeadSize = 128;

// The head of a snapshot response for an image of `length` bytes; returns
// its length.
size_t format_snapshot_head(char* buffer, size_t size, size_t length);

// A snapshot while the camera is unavailable: vshare tries it again within
// two seconds.
inline constexpr std::string_view kCameraUnavailable =
    "Status: 503 Service Unavailable\r\n"
    "Retry-After: 2\r\n"
    "Content-Type: text/plain\r\n\r\n"
    "The camera is unavailable.\n";
