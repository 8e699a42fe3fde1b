// Who may watch: HTTP Basic logins checked against the credentials file,
// verified credentials cached, and failed logins limited per client.
#pragma once

#include <cstdint>
#include <string_view>

enum class access_verdict {
    allowed,
    refused,  // no or wrong credentials: answer 401 with a challenge
    limited,  // too many failed logins from this client: answer 429
};

struct access_decision {
    access_verdict verdict = access_verdict::refused;
    int retry_after_s = 0;  // for `limited`
};

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
    // failed-login limit.
    access_decision check(std::string_view authorization, std::string_view client,
                          int64_t now_ms);
};
