// SPDX-License-Identifier: MIT
#include "http_request.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::string_view kCrlf = "\r\n";
constexpr size_t kMaxMethod = 16;

// The characters of a token (a method, a field name).
constexpr std::array<bool, 256> kTokenChars = [] {
    std::array<bool, 256> table{};
    for (size_t digit = '0'; digit <= '9'; ++digit) {
        table[digit] = true;
    }
    for (size_t letter = 'a'; letter <= 'z'; ++letter) {
        table[letter] = true;
        table[letter - 'a' + 'A'] = true;
    }
    for (const char sign : std::string_view("!#$%&'*+-.^_`|~")) {
        table[static_cast<unsigned char>(sign)] = true;
    }
    return table;
}();

bool is_token(std::string_view text) {
    return !text.empty() && std::ranges::all_of(text, [](char each) {
        return kTokenChars[static_cast<unsigned char>(each)];
    });
}

// A target's characters: visible ASCII.
bool is_target(std::string_view text) {
    return text.starts_with('/') &&
           std::ranges::all_of(text, [](char each) { return each > ' ' && each < 0x7F; });
}

// A field value's characters: visible, blanks and bytes above ASCII.
bool is_field_value(std::string_view text) {
    return std::ranges::all_of(text, [](char each) {
        const auto byte = static_cast<unsigned char>(each);
        return (byte >= 0x20 || byte == '\t') && byte != 0x7F;
    });
}

char lower(char letter) {
    return letter >= 'A' && letter <= 'Z' ? static_cast<char>(letter - 'A' + 'a') : letter;
}

bool same_word(std::string_view word, std::string_view other) {
    if (word.size() != other.size()) {
        return false;
    }
    for (size_t i = 0; i < word.size(); ++i) {
        if (lower(word[i]) != lower(other[i])) {
            return false;
        }
    }
    return true;
}

std::string_view trim_blanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

http_request refused(int status) {
    http_request request;
    request.status = http_parse_status::refused;
    request.refusal = status;
    return request;
}

// Every line ends with CR LF: a lone CR or LF could be read two ways by
// whatever lies between the client and vshare. A CR at the very end of
// what has come may yet be followed by its LF.
bool lines_are_clean(std::string_view head) {
    for (size_t i = 0; i < head.size(); ++i) {
        if (head[i] == '\r' && i + 1 < head.size() && head[i + 1] != '\n') {
            return false;
        }
        if (head[i] == '\n' && (i == 0 || head[i - 1] != '\r')) {
            return false;
        }
    }
    return true;
}

// "METHOD SP /target SP HTTP/1.x"; a status to refuse with, or 0.
int take_request_line(std::string_view line, http_request* request) {
    const size_t first = line.find(' ');
    const size_t last = line.rfind(' ');
    if (first == std::string_view::npos || first == last) {
        return 400;
    }
    const std::string_view method = line.substr(0, first);
    const std::string_view target = line.substr(first + 1, last - first - 1);
    const std::string_view version = line.substr(last + 1);
    if (method.size() > kMaxMethod || !is_token(method) || !is_target(target)) {
        return 400;
    }
    constexpr std::string_view kHttp = "HTTP/";
    if (version.size() != kHttp.size() + 3 || !version.starts_with(kHttp) || version[6] != '.' ||
        version[5] < '0' || version[5] > '9' || version[7] < '0' || version[7] > '9') {
        return 400;
    }
    if (version[5] != '1') {
        return 505;
    }
    request->minor_version = version[7] == '0' ? 0 : 1;  // 1.2 and on read as 1.1
    request->method_name = method;
    request->method = method == "GET"    ? http_method::get
                      : method == "HEAD" ? http_method::head
                                         : http_method::other;
    const size_t question = target.find('?');
    request->path = target.substr(0, question);
    request->query = question == std::string_view::npos ? "" : target.substr(question + 1);
    return 0;
}

struct connection_words {
    bool close = false;
    bool keep_alive = false;
};

void take_connection(std::string_view value, connection_words* words) {
    while (!value.empty()) {
        const size_t comma = value.find(',');
        const std::string_view word = trim_blanks(value.substr(0, comma));
        words->close = words->close || same_word(word, "close");
        words->keep_alive = words->keep_alive || same_word(word, "keep-alive");
        value = comma == std::string_view::npos ? "" : value.substr(comma + 1);
    }
}

// The fields after the request line; a status to refuse with, or 0.
int take_fields(std::string_view fields, http_request* request) {
    int hosts = 0;
    bool authorized = false;
    connection_words connection;
    while (!fields.empty()) {
        const size_t end = fields.find(kCrlf);
        const std::string_view line = fields.substr(0, end);
        fields.remove_prefix(end + kCrlf.size());
        const size_t colon = line.find(':');
        // No folded lines, no blank before the colon.
        if (colon == std::string_view::npos || !is_token(line.substr(0, colon))) {
            return 400;
        }
        const std::string_view name = line.substr(0, colon);
        const std::string_view value = trim_blanks(line.substr(colon + 1));
        if (!is_field_value(value)) {
            return 400;
        }
        if (same_word(name, "host")) {
            ++hosts;
        } else if (same_word(name, "connection")) {
            take_connection(value, &connection);
        } else if (same_word(name, "authorization")) {
            if (authorized) {
                return 400;
            }
            authorized = true;
            request->authorization = value;
        } else if (same_word(name, "transfer-encoding") ||
                   (same_word(name, "content-length") && value != "0")) {
            return 400;  // a request with a body: nothing here takes one
        }
    }
    if (hosts > 1 || (hosts == 0 && request->minor_version == 1)) {
        return 400;
    }
    request->keep_alive =
        !connection.close && (request->minor_version == 1 || connection.keep_alive);
    return 0;
}

}  // namespace

http_request parse_http_request(std::string_view bytes) {
    constexpr std::string_view kEnd = "\r\n\r\n";
    const size_t line_end = bytes.find(kCrlf);
    if ((line_end == std::string_view::npos ? bytes.size() : line_end) > kMaxRequestLine) {
        return refused(414);
    }
    const size_t end = bytes.find(kEnd);
    if (end == std::string_view::npos || end + kEnd.size() > kMaxRequestHead) {
        if (bytes.size() >= kMaxRequestHead) {
            return refused(431);
        }
        // A bad request line or line end is refused before the rest arrives.
        if (!lines_are_clean(bytes)) {
            return refused(400);
        }
        if (line_end != std::string_view::npos) {
            http_request early;
            if (const int status = take_request_line(bytes.substr(0, line_end), &early);
                status != 0) {
                return refused(status);
            }
        }
        return {};
    }
    const std::string_view head = bytes.substr(0, end + kEnd.size());
    if (!lines_are_clean(head)) {
        return refused(400);
    }
    http_request request;
    if (const int status = take_request_line(head.substr(0, line_end), &request); status != 0) {
        return refused(status);
    }
    // The fields, each with its CR LF; none when the line ends the head.
    const std::string_view fields =
        line_end == end ? std::string_view() : head.substr(line_end + 2, end - line_end);
    if (const int status = take_fields(fields, &request); status != 0) {
        return refused(status);
    }
    request.status = http_parse_status::complete;
    request.head_length = head.size();
    return request;
}

std::optional<std::string_view> query_value(std::string_view query, std::string_view name) {
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        const size_t equals = pair.find('=');
        if (pair.substr(0, equals) == name) {
            return equals == std::string_view::npos ? "" : pair.substr(equals + 1);
        }
        query = amp == std::string_view::npos ? "" : query.substr(amp + 1);
    }
    return std::nullopt;
}
