// SPDX-License-Identifier: MIT
#include "http_responses.h"

#include <cstdio>
#include <ctime>

namespace {

std::string_view connection_field(http_connection connection) {
    if (!connection.keep_alive) {
        return "Connection: close\r\n";
    }
    // HTTP/1.0 closes unless told otherwise.
    return connection.minor_version == 0 ? "Connection: keep-alive\r\n" : "";
}

}  // namespace

std::string_view http_reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 414:
            return "URI Too Long";
        case 429:
            return "Too Many Requests";
        case 431:
            return "Request Header Fields Too Large";
        case 500:
            return "Internal Server Error";
        case 503:
            return "Service Unavailable";
        case 505:
            return "HTTP Version Not Supported";
        default:
            return "Error";
    }
}

std::string http_head(int status, std::string_view fields, http_connection connection) {
    std::string head = "HTTP/1.1 " + std::to_string(status) + " ";
    head += http_reason(status);
    head += "\r\n";
    head += fields;
    head += kCommonFields;
    head += connection_field(connection);
    head += "\r\n";
    return head;
}

std::string http_text_response(int status, std::string_view text, http_connection connection,
                               bool head_only, std::string_view extra, std::string_view type) {
    std::string fields = "Content-Type: " + std::string(type) +
                         "\r\nContent-Length: " + std::to_string(text.size()) + "\r\n";
    fields += extra;
    std::string response = http_head(status, fields, connection);
    if (!head_only) {
        response += text;
    }
    return response;
}

std::string http_refusal(int status, http_connection connection, std::string_view extra,
                         bool head_only) {
    std::string_view text;
    switch (status) {
        case 400:
            text = "Bad request.\n";
            break;
        case 401:
            text = "Login required.\n";
            break;
        case 404:
            text = "Not found.\n";
            break;
        case 405:
            text = "Only GET and HEAD are served.\n";
            break;
        case 414:
            text = "Request line too long.\n";
            break;
        case 429:
            text = "Too many failed logins: try again later.\n";
            break;
        case 431:
            text = "Request head too large.\n";
            break;
        case 503:
            text = "The camera gave no picture.\n";
            break;
        case 505:
            text = "Only HTTP/1.0 and HTTP/1.1 are served.\n";
            break;
        default:
            text = "Error.\n";
            break;
    }
    return http_text_response(status, text, connection, head_only, extra);
}

size_t format_http_snapshot_head(char* buffer, size_t size, size_t length, int64_t t_usec,
                                 http_connection connection) {
    const auto seconds = static_cast<time_t>(t_usec / 1000000);
    tm local{};
    char stamp[32] = "00000000-000000";
    if (localtime_r(&seconds, &local) != nullptr) {
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    }
    const std::string_view keep = connection_field(connection);
    const int formatted =
        std::snprintf(buffer, size,
                      "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: %zu\r\n"
                      "Content-Disposition: inline; filename=\"camboard-%s.jpg\"\r\n%.*s%.*s\r\n",
                      length, stamp, static_cast<int>(kCommonFields.size()), kCommonFields.data(),
                      static_cast<int>(keep.size()), keep.data());
    if (formatted < 0) {
        return 0;
    }
    return static_cast<size_t>(formatted) < size ? static_cast<size_t>(formatted) : size - 1;
}
