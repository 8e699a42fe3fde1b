// SPDX-License-Identifier: MIT
// Passwords hashed and checked by crypt(3), whose default method (a salted,
// deliberately slow hash) the system chooses.
#pragma once

#include <memory>
#include <string>
#include <string_view>

struct crypt_data;

// A new salted hash of `password`; false when crypt fails (reported).
bool hash_password(std::string_view password, std::string* hash);

// Checks passwords against hashes with one work area, kept for the process
// (crypt's is large).
class password_checker {
  public:
    password_checker();
    ~password_checker();
    password_checker(const password_checker&) = delete;
    password_checker& operator=(const password_checker&) = delete;

    // `password` must hold no NUL byte. Compares in time independent of
    // where the hashes differ.
    bool matches(std::string_view password, const std::string& hash);

  private:
    std::unique_ptr<crypt_data> work_;
};

// Equal in time independent of where the two differ.
bool equal_in_constant_time(std::string_view left, std::string_view right);
