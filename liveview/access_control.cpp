// SPDX-License-Identifier: MIT
#include "access_control.h"

#include <error.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>

namespace {

// Room for the longest user name, a colon and the longest password.
constexpr size_t kMaxCredentialBytes = 640;

bool equal_ignoring_case(std::string_view left, std::string_view right) {
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(),
                      [](char one, char other) { return (one | 0x20) == (other | 0x20); });
}

// The value of one base64 character, or -1.
int sextet(char digit) {
    if (digit >= 'A' && digit <= 'Z') {
        return digit - 'A';
    }
    if (digit >= 'a' && digit <= 'z') {
        return digit - 'a' + 26;
    }
    if (digit >= '0' && digit <= '9') {
        return digit - '0' + 52;
    }
    return digit == '+' ? 62 : digit == '/' ? 63 : -1;
}

// Strict base64 with its padding; the decoded length, or -1 for text that
// is not base64 or does not fit `out`.
long decode_base64(std::string_view text, std::span<char> out) {
    if (text.empty() || text.size() % 4 != 0) {
        return -1;
    }
    const size_t padding = text.ends_with("==") ? 2 : text.ends_with('=') ? 1 : 0;
    const size_t length = text.size() / 4 * 3 - padding;
    if (length > out.size()) {
        return -1;
    }
    size_t written = 0;
    for (size_t i = 0; i < text.size(); i += 4) {
        uint32_t group = 0;
        for (size_t j = 0; j < 4; ++j) {
            const char digit = text[i + j];
            const bool pad = digit == '=' && i + 4 == text.size() && j >= 4 - padding;
            const int value = pad ? 0 : sextet(digit);
            if (value < 0) {
                return -1;
            }
            group = group << 6 | static_cast<uint32_t>(value);
        }
        for (int shift = 16; shift >= 0 && written < length; shift -= 8) {
            out[written++] = static_cast<char>(group >> shift & 0xff);
        }
    }
    return static_cast<long>(length);
}

// The base64 text of a Basic credential: the scheme (any case), spaces,
// the token; empty when the header is anything else.
std::string_view basic_token(std::string_view header) {
    constexpr std::string_view kScheme = "basic";
    if (header.size() <= kScheme.size() ||
        !equal_ignoring_case(header.substr(0, kScheme.size()), kScheme) ||
        header[kScheme.size()] != ' ') {
        return {};
    }
    header.remove_prefix(kScheme.size());
    while (!header.empty() && header.front() == ' ') {
        header.remove_prefix(1);
    }
    while (!header.empty() && header.back() == ' ') {
        header.remove_suffix(1);
    }
    return header;
}

}  // namespace

bool access_control::open(const char* users_path, bool disabled) {
    disabled_ = disabled;
    if (disabled) {
        error(0, 0, "logins are off (-no-auth): anyone who reaches this server may watch");
        return true;
    }
    users_path_ = users_path;
    int failure = read_credentials(users_path, &users_, &identity_);
    if (failure == ENOENT) {
        if (!create_first_credentials(users_path)) {
            return false;
        }
        failure = read_credentials(users_path, &users_, &identity_);
    }
    if (failure != 0) {
        if (failure == ENOENT) {
            error(0, failure, "cannot read %s", users_path);
        }
        return false;
    }
    if (users_.empty()) {
        error(0, 0, "%s holds no login: nobody may watch until vshare -passwd sets one",
              users_path);
    }
    return true;
}

access_decision access_control::check(std::string_view authorization, std::string_view client,
                                      int64_t now_ms) {
    if (disabled_) {
        return {access_verdict::allowed, 0};
    }
    reload_if_changed();
    // A login verified before passes even from a limited address: only its
    // exact password reaches the cache, and a neighbour behind the same
    // address guessing is no reason to lock its owner out.
    if (!authorization.empty() && cached(authorization, now_ms)) {
        return {access_verdict::allowed, 0};
    }
    client_failures* failures = failures_of(client, now_ms, false);
    if (failures != nullptr && failures->count >= kMaxFailedLogins) {
        const int64_t left_ms = failures->window_start_ms + kFailureWindowMs - now_ms;
        return {access_verdict::limited,
                static_cast<int>(std::max<int64_t>(1, (left_ms + 999) / 1000))};
    }
    if (authorization.empty()) {
        return {access_verdict::refused, 0};  // a browser's first try: not a failure
    }
    if (verify(authorization)) {
        remember(authorization, now_ms);
        return {access_verdict::allowed, 0};
    }
    failures = failures_of(client, now_ms, true);
    ++failures->count;
    return {access_verdict::refused, 0};
}

void access_control::reload_if_changed() {
    const file_identity now = identify_file(users_path_.c_str());
    if (now == identity_) {
        return;
    }
    // Taken as read even when it cannot be: a failure is reported once, not
    // at every request.
    cache_.fill({});
    identity_ = now;
    file_identity read{};
    if (read_credentials(users_path_.c_str(), &users_, &read) == ENOENT) {
        error(0, 0, "%s is gone: nobody may watch until it is back", users_path_.c_str());
    }
}

bool access_control::verify(std::string_view authorization) {
    const std::string_view token = basic_token(authorization);
    std::array<char, kMaxCredentialBytes> decoded{};
    const long length = decode_base64(token, decoded);
    bool allowed = false;
    if (length > 0) {
        const std::string_view pair(decoded.data(), static_cast<size_t>(length));
        const size_t colon = pair.find(':');
        const std::string_view password =
            colon == std::string_view::npos ? std::string_view{} : pair.substr(colon + 1);
        const auto user = std::find_if(users_.begin(), users_.end(), [&](const credential& one) {
            return colon != std::string_view::npos && one.user == pair.substr(0, colon);
        });
        if (colon != std::string_view::npos && !users_.empty() &&
            password.find('\0') == std::string_view::npos) {
            // An unknown user costs a hashing too, so that the answer's
            // time does not tell which users exist.
            ++hashings_;
            allowed = checker_.matches(password,
                                       user != users_.end() ? user->hash : users_.front().hash) &&
                      user != users_.end();
        }
    }
    explicit_bzero(decoded.data(), decoded.size());
    return allowed;
}

bool access_control::cached(std::string_view authorization, int64_t now_ms) {
    for (cached_login& entry : cache_) {
        if (entry.length != 0 &&
            equal_in_constant_time(std::string_view(entry.value.data(), entry.length),
                                   authorization)) {
            entry.last_used_ms = now_ms;
            return true;
        }
    }
    return false;
}

void access_control::remember(std::string_view authorization, int64_t now_ms) {
    if (authorization.size() > kCachedValueBytes) {
        return;
    }
    cached_login& entry = *std::min_element(cache_.begin(), cache_.end(),
                                            [](const cached_login& one, const cached_login& other) {
                                                if ((one.length == 0) != (other.length == 0)) {
                                                    return one.length == 0;  // a free entry first
                                                }
                                                return one.last_used_ms < other.last_used_ms;
                                            });
    std::copy(authorization.begin(), authorization.end(), entry.value.begin());
    entry.length = authorization.size();
    entry.last_used_ms = now_ms;
}

access_control::client_failures* access_control::failures_of(std::string_view client,
                                                             int64_t now_ms, bool make) {
    client = client.empty() ? "?" : client.substr(0, kClientBytes);
    client_failures* oldest = &failures_.front();
    for (client_failures& entry : failures_) {
        const bool expired =
            entry.length != 0 && now_ms - entry.window_start_ms >= kFailureWindowMs;
        if (expired) {
            entry = {};
        }
        if (entry.length != 0 && std::string_view(entry.client.data(), entry.length) == client) {
            return &entry;
        }
        if (entry.length == 0 ||
            (oldest->length != 0 && entry.window_start_ms < oldest->window_start_ms)) {
            oldest = &entry;
        }
    }
    if (!make) {
        return nullptr;
    }
    // A full table gives up its oldest window.
    *oldest = {};
    std::copy(client.begin(), client.end(), oldest->client.begin());
    oldest->length = client.size();
    oldest->window_start_ms = now_ms;
    return oldest;
}
