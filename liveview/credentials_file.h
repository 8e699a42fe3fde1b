// SPDX-License-Identifier: MIT
// The credentials file: one "user:hash" line per login, hashes made by
// crypt(3) with the system's default method, readable by vshare's user
// alone. Every write goes to a temporary file beside it that is renamed over
// it only when complete, so that a failure leaves the old file as it was.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

struct credential {
    std::string user;
    std::string hash;
};

// What tells one content of the file from the next: a rename over it gives
// a new inode, a write in place a new change time.
struct file_identity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec changed{};

    bool operator==(const file_identity& other) const;
};

// The identity of what `path` names now; size -1 when nothing is there.
file_identity identify_file(const char* path);

// Reads the logins of `path`, reporting and skipping lines that are not
// "user:hash". 0, or an errno value (reported, except ENOENT).
int read_credentials(const char* path, std::vector<credential>* users, file_identity* identity);

// A user name fits the file and HTTP Basic: 1 to 64 bytes, no ':' and no
// control character.
bool valid_user_name(std::string_view user);

// Passwords are bounded so that every one that can be set also fits a
// request's Authorization header.
constexpr size_t kMaxPasswordBytes = 512;

// Sets the password of `user`, keeping every other line; creates the file
// (mode 0600) when there is none. Failures are reported; false then, and the
// file is as it was.
bool set_password(const char* users_path, std::string_view user, std::string_view password);

// The file beside `users_path` that receives the first password.
std::string first_password_path(const char* users_path);

// The first start: creates `users_path` with the user "admin" and a random
// password, which goes to first_password_path(), readable by vshare's user
// alone. Failures are reported; false then, and neither file is left.
bool create_first_credentials(const char* users_path);
