// SPDX-License-Identifier: MIT
// The head of an HTTP/1.0 or 1.1 request, read strictly: the request line
// and the header fields a viewer's request may carry, bounded in size. Pure:
// bytes in, a record out; the record's texts point into the bytes.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

// The longest head taken (request line, fields and the empty line), and the
// longest request line within it.
inline constexpr size_t kMaxRequestHead = 8192;
inline constexpr size_t kMaxRequestLine = 2048;

enum class http_method { get, head, other };

enum class http_parse_status {
    incomplete,  // the head's end has not arrived yet
    complete,    // `head_length` bytes make a good request head
    refused,     // `refusal` says with which status to answer, then close
};

struct http_request {
    http_parse_status status = http_parse_status::incomplete;
    int refusal = 0;  // 400, 414, 431 or 505 when refused
    size_t head_length = 0;
    http_method method = http_method::other;
    std::string_view method_name;
    std::string_view path;           // the target up to '?', starting with '/'
    std::string_view query;          // after '?', without it
    int minor_version = 1;           // HTTP/1.<minor_version>
    bool keep_alive = false;         // the connection may carry another request
    std::string_view authorization;  // the field's value, empty without one
};

// Reads the head at the start of `bytes` (what the client has sent so far).
http_request parse_http_request(std::string_view bytes);

// The value of `name` in a query ("a=1&b=2"); nothing when it is absent.
std::optional<std::string_view> query_value(std::string_view query, std::string_view name);
