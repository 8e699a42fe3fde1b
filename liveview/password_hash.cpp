// SPDX-License-Identifier: MIT
#include "password_hash.h"

#include <crypt.h>
#include <error.h>

#include <cerrno>
#include <cstring>

bool hash_password(std::string_view password, std::string* hash) {
    // A null prefix asks for the system's default method; null random bytes
    // let libcrypt draw the salt from the kernel itself.
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (crypt_gensalt_rn(nullptr, 0, nullptr, 0, setting, sizeof setting) == nullptr) {
        error(0, errno, "cannot make a salt for the password hash");
        return false;
    }
    const std::string phrase(password);
    auto work = std::make_unique<crypt_data>();
    const char* hashed = crypt_rn(phrase.c_str(), setting, work.get(), sizeof *work);
    if (hashed == nullptr) {
        error(0, errno, "cannot hash the password");
        return false;
    }
    *hash = hashed;
    explicit_bzero(work.get(), sizeof *work);
    return true;
}

password_checker::password_checker() : work_(std::make_unique<crypt_data>()) {}

password_checker::~password_checker() {
    explicit_bzero(work_.get(), sizeof *work_);
}

bool password_checker::matches(std::string_view password, const std::string& hash) {
    // The phrase lives in the work area, which is cleared after each use.
    if (password.size() >= sizeof work_->input) {
        return false;
    }
    std::memcpy(work_->input, password.data(), password.size());
    work_->input[password.size()] = '\0';
    const char* hashed = crypt_rn(work_->input, hash.c_str(), work_.get(), sizeof *work_);
    const bool same = hashed != nullptr && equal_in_constant_time(hashed, hash);
    explicit_bzero(work_->input, sizeof work_->input);
    return same;
}

bool equal_in_constant_time(std::string_view left, std::string_view right) {
    if (left.size() != right.size()) {
        return false;
    }
    unsigned char difference = 0;
    for (size_t i = 0; i < left.size(); ++i) {
        difference |= static_cast<unsigned char>(left[i] ^ right[i]);
    }
    return difference == 0;
}
