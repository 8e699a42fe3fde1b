// SPDX-License-Identifier: MIT
// The HTTP request reader: one row a request head, what it is read as.
#include "http_request.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

struct head_case {
    const char* name;
    std::string bytes;
    http_parse_status status;
    int refusal;  // when refused
    http_method method = http_method::get;
    const char* path = "";
    const char* query = "";
    bool keep_alive = false;
    const char* authorization = "";
};

// Named by its row in test listings.
void PrintTo(const head_case& row, std::ostream* out) {
    *out << row.name;
}

constexpr auto kComplete = http_parse_status::complete;
constexpr auto kRefused = http_parse_status::refused;
constexpr auto kIncomplete = http_parse_status::incomplete;

const head_case kCases[] = {
    {"http11_keeps_alive", "GET /stream HTTP/1.1\r\nHost: cam\r\n\r\n", kComplete, 0,
     http_method::get, "/stream", "", true},
    {"query_split", "GET /stream?fps=5&advance_headers=1 HTTP/1.1\r\nHost: c\r\n\r\n", kComplete, 0,
     http_method::get, "/stream", "fps=5&advance_headers=1", true},
    {"http11_close", "HEAD / HTTP/1.1\r\nHost: c\r\nConnection: close\r\n\r\n", kComplete, 0,
     http_method::head, "/", "", false},
    {"http10_closes", "GET / HTTP/1.0\r\n\r\n", kComplete, 0, http_method::get, "/", "", false},
    {"http10_asks_keep_alive", "GET / HTTP/1.0\r\nconnection: Upgrade, Keep-Alive\r\n\r\n",
     kComplete, 0, http_method::get, "/", "", true},
    {"authorization_kept", "GET /state HTTP/1.1\r\nHost: c\r\nAuthorization:  Basic eA== \r\n\r\n",
     kComplete, 0, http_method::get, "/state", "", true, "Basic eA=="},
    {"other_method", "DELETE /x HTTP/1.1\r\nHost: c\r\n\r\n", kComplete, 0, http_method::other,
     "/x", "", true},
    {"http12_read_as_11", "GET / HTTP/1.2\r\nHost: c\r\n\r\n", kComplete, 0, http_method::get, "/",
     "", true},
    {"half_a_head", "GET /stream HTTP/1.1\r\nHost: c\r\n", kIncomplete, 0},
    {"half_a_line", "GET /str", kIncomplete, 0},
    {"lowercase_method_is_other", "get / HTTP/1.0\r\n\r\n", kComplete, 0, http_method::other, "/"},
    {"no_host_in_11", "GET / HTTP/1.1\r\n\r\n", kRefused, 400},
    {"two_hosts", "GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", kRefused, 400},
    {"two_logins", "GET / HTTP/1.0\r\nAuthorization: a\r\nAuthorization: b\r\n\r\n", kRefused, 400},
    {"bare_lf", "GET / HTTP/1.0\n\n", kRefused, 400},
    {"bare_lf_in_field", "GET / HTTP/1.0\r\nA: b\nC: d\r\n\r\n", kRefused, 400},
    {"bare_cr", "GET / HTTP/1.0\r\nA: b\rc\r\n\r\n", kRefused, 400},
    {"folded_field", "GET / HTTP/1.0\r\nA: b\r\n c\r\n\r\n", kRefused, 400},
    {"blank_before_colon", "GET / HTTP/1.0\r\nA : b\r\n\r\n", kRefused, 400},
    {"control_in_value", std::string("GET / HTTP/1.0\r\nA: b\x01\r\n\r\n"), kRefused, 400},
    {"nul_in_value", std::string("GET / HTTP/1.0\r\nA: b\0c\r\n\r\n", 27), kRefused, 400},
    {"body_announced", "GET / HTTP/1.0\r\nContent-Length: 3\r\n\r\n", kRefused, 400},
    {"chunked_body", "GET / HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n", kRefused, 400},
    {"empty_body_allowed", "GET / HTTP/1.0\r\nContent-Length: 0\r\n\r\n", kComplete, 0,
     http_method::get, "/"},
    {"absolute_target", "GET http://c/ HTTP/1.0\r\n\r\n", kRefused, 400},
    {"two_blanks", "GET  / HTTP/1.0\r\n\r\n", kRefused, 400},
    {"no_version", "GET /\r\n\r\n", kRefused, 400},
    {"http2", "GET / HTTP/2.0\r\n\r\n", kRefused, 505},
    {"bad_line_refused_before_the_rest", "GARBAGE\r\nHost: a\r\n", kRefused, 400},
    {"line_too_long", "GET /" + std::string(kMaxRequestLine, 'a'), kRefused, 414},
    {"head_too_large",
     "GET / HTTP/1.1\r\nHost: c\r\nX: " + std::string(kMaxRequestHead, 'v') + "\r\n\r\n", kRefused,
     431},
    {"head_too_large_unfinished",
     "GET / HTTP/1.1\r\nHost: c\r\nX: " + std::string(kMaxRequestHead, 'v'), kRefused, 431},
};

class HttpRequest : public testing::TestWithParam<head_case> {};

TEST_P(HttpRequest, IsReadAsExpected) {
    const head_case& row = GetParam();
    const http_request request = parse_http_request(row.bytes);
    ASSERT_EQ(request.status, row.status);
    if (row.status == kRefused) {
        EXPECT_EQ(request.refusal, row.refusal);
        return;
    }
    if (row.status == kIncomplete) {
        return;
    }
    EXPECT_EQ(request.method, row.method);
    EXPECT_EQ(request.path, row.path);
    EXPECT_EQ(request.query, row.query);
    EXPECT_EQ(request.keep_alive, row.keep_alive);
    EXPECT_EQ(request.authorization, row.authorization);
}

INSTANTIATE_TEST_SUITE_P(Heads, HttpRequest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<head_case>& row) {
                             return std::string(row.param.name);
                         });

TEST(HttpRequestPipelined, TheHeadEndsWhereTheNextRequestBegins) {
    const std::string first = "GET /state HTTP/1.1\r\nHost: c\r\n\r\n";
    const http_request request = parse_http_request(first + "GET / HTTP/1.1\r\n");
    ASSERT_EQ(request.status, kComplete);
    EXPECT_EQ(request.head_length, first.size());
}

TEST(QueryValue, NamesAreWholeAndValuesMayBeEmpty) {
    EXPECT_EQ(query_value("fps=5&advance_headers=1", "fps"), "5");
    EXPECT_EQ(query_value("xfps=5&fps=7", "fps"), "7");
    EXPECT_EQ(query_value("advance_headers", "advance_headers"), "");
    EXPECT_EQ(query_value("a=1", "fps"), std::nullopt);
    EXPECT_EQ(query_value("", "fps"), std::nullopt);
}

}  // namespace
