// SPDX-License-Identifier: MIT
#include "passwd_command.h"

#include <error.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "credentials_file.h"

namespace {

// A terminal's echo, off while the password is typed.
class echo_off {
  public:
    explicit echo_off(int fd) : fd_(fd) {
        if (tcgetattr(fd, &saved_) == 0) {
            termios quiet = saved_;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            active_ = tcsetattr(fd, TCSAFLUSH, &quiet) == 0;
        }
    }
    ~echo_off() {
        if (active_) {
            tcsetattr(fd_, TCSAFLUSH, &saved_);
            std::fputc('\n', stderr);  // the Enter that was not echoed
        }
    }
    echo_off(const echo_off&) = delete;
    echo_off& operator=(const echo_off&) = delete;

  private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

// One line without its line feed; false when the input ends before a
// byte, fails, or the line is longer than a password may be.
bool read_line(int fd, std::string* line, bool* too_long) {
    char byte = 0;
    ssize_t count = 0;
    bool any = false;
    while ((count = read(fd, &byte, 1)) == 1 || (count < 0 && errno == EINTR)) {
        if (count != 1) {
            continue;
        }
        any = true;
        if (byte == '\n') {
            break;
        }
        if (line->size() == kMaxPasswordBytes) {
            *too_long = true;
            return false;
        }
        line->push_back(byte);
    }
    return count >= 0 && any;
}

}  // namespace

int run_passwd(const char* users_path, const char* user, int input_fd) {
    if (!valid_user_name(user)) {
        error(0, 0,
              "-passwd: a user name is 1 to 64 bytes without ':' or control characters, not '%s'",
              user);
        return 1;
    }
    std::string password;
    bool too_long = false;
    bool got = false;
    if (isatty(input_fd) != 0) {
        std::fprintf(stderr, "Password for %s: ", user);
        const echo_off quiet(input_fd);
        got = read_line(input_fd, &password, &too_long);
    } else {
        got = read_line(input_fd, &password, &too_long);
    }
    int status = 1;
    if (too_long) {
        error(0, 0, "-passwd: the password is longer than %zu bytes", kMaxPasswordBytes);
    } else if (!got || password.empty()) {
        error(0, 0, "-passwd: expected the password on standard input, one line, not empty");
    } else if (password.find('\0') != std::string::npos) {
        error(0, 0, "-passwd: the password holds a NUL byte");
    } else if (set_password(users_path, user, password)) {
        error(0, 0, "the password of %s is set in %s", user, users_path);
        status = 0;
    }
    explicit_bzero(password.data(), password.size());
    return status;
}
