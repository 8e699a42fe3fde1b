// SPDX-License-Identifier: MIT
// vshare's HTTP request reader on any bytes: it must never read outside
// them, and a head it takes must be one it takes again alone (what follows
// it, a pipelined request, changes nothing), with its texts inside it.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "http_request.h"

namespace {

bool inside(std::string_view part, std::string_view whole) {
    return part.empty() || (part.data() >= whole.data() &&
                            part.data() + part.size() <= whole.data() + whole.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const http_request request = parse_http_request(bytes);
    if (request.status == http_parse_status::refused) {
        const int status = request.refusal;
        if (status != 400 && status != 414 && status != 431 && status != 505) {
            std::abort();
        }
        return 0;
    }
    if (request.status == http_parse_status::incomplete) {
        if (size >= kMaxRequestHead) {
            std::abort();  // a bounded head is never waited for beyond its bound
        }
        return 0;
    }
    const std::string_view head = bytes.substr(0, request.head_length);
    if (request.head_length > kMaxRequestHead || !head.ends_with("\r\n\r\n") ||
        request.path.empty() || request.path.front() != '/' || !inside(request.path, head) ||
        !inside(request.query, head) || !inside(request.authorization, head)) {
        std::abort();
    }
    const http_request again = parse_http_request(head);
    if (again.status != http_parse_status::complete || again.head_length != request.head_length ||
        again.path != request.path || again.keep_alive != request.keep_alive ||
        again.method != request.method) {
        std::abort();
    }
    for (const std::string_view name : {"fps", "advance_headers", ""}) {
        if (const auto value = query_value(request.query, name); value && !inside(*value, head)) {
            std::abort();
        }
    }
    return 0;
}
