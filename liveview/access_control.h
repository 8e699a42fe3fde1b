// SPDX-License-Identifier: MIT
// Who may watch: HTTP Basic logins checked against the credentials file,
// verified credentials cached, and failed logins limited per client.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "credentials_file.h"
#include "password_hash.h"

enum class access_verdict {
    allowed,
    refused,  // no or wrong credentials: answer 401 with a challenge
    limited,  // too many failed logins from this client: answer 429
};

struct access_decision {
    access_verdict verdict = access_verdict::refused;
    int retry_after_s = 0;  // for `limited`
};

// Failed logins a client may make within kFailureWindowMs before it is
// limited for the rest of that window.
constexpr int kMaxFailedLogins = 5;
constexpr int64_t kFailureWindowMs = 60000;

class access_control {
  public:
    // Loads the credentials file at `users_path`; when there is none, creates
    // it with the user "admin" and a random password, written beside it for
    // vshare's user alone and named in the log. With `disabled` (-no-auth)
    // every request is allowed and the log says so. False when the file can
    // be neither read nor made (reported on standard error).
    bool open(const char* users_path, bool disabled);

    // `authorization` is the value of the request's Authorization header
    // (empty when it has none); `client` the peer's address, the key of the
    // failed-login limit. A credential verified before costs no hashing
    // while the file stays as it was.
    access_decision check(std::string_view authorization, std::string_view client, int64_t now_ms);

    // How many passwords have been hashed to check a login.
    [[nodiscard]] uint64_t hashings() const { return hashings_; }

  private:
    // The exact header value of a verified login; longer ones are checked
    // every time.
    static constexpr size_t kCachedValueBytes = 256;
    struct cached_login {
        std::array<char, kCachedValueBytes> value{};
        size_t length = 0;  // 0: a free entry
        int64_t last_used_ms = 0;
    };

    // Room for an address in text form, IPv6 included.
    static constexpr size_t kClientBytes = 64;
    struct client_failures {
        std::array<char, kClientBytes> client{};
        size_t length = 0;  // 0: a free entry
        int64_t window_start_ms = 0;
        int count = 0;
    };

    void reload_if_changed();
    bool verify(std::string_view authorization);
    bool cached(std::string_view authorization, int64_t now_ms);
    void remember(std::string_view authorization, int64_t now_ms);
    client_failures* failures_of(std::string_view client, int64_t now_ms, bool make);

    bool disabled_ = false;
    std::string users_path_;
    std::vector<credential> users_;
    file_identity identity_;
    password_checker checker_;
    uint64_t hashings_ = 0;
    std::array<cached_login, 8> cache_{};
    std::array<client_failures, 64> failures_{};
};
