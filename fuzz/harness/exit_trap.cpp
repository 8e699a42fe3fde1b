// SPDX-License-Identifier: MIT
#include "exit_trap.h"

#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstring>

extern "C" {
[[noreturn]] void __real_exit(int status);
[[noreturn]] void __wrap_exit(int status);
// Checked like the C library's error(), whose calls it receives.
void __wrap_error(int status, int errnum, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
}

namespace {

std::jmp_buf* armed = nullptr;
int refusal_status = 0;
char refusal_message[1024];

[[noreturn]] void refuse(int status) {
    refusal_status = status;
    std::jmp_buf* target = armed;
    armed = nullptr;
    std::longjmp(*target, 1);
}

}  // namespace

trapped_outcome trap_refusals(void (*fn)(void* context), void* context) {
    std::jmp_buf here;
    refusal_message[0] = '\0';
    if (setjmp(here) != 0) {
        return trapped_outcome::refused;
    }
    armed = &here;
    fn(context);
    armed = nullptr;
    return trapped_outcome::returned;
}

int last_refusal_status() {
    return refusal_status;
}

const char* last_refusal_message() {
    return refusal_message;
}

void __wrap_exit(int status) {
    if (armed != nullptr) {
        refuse(status);
    }
    __real_exit(status);
}

// The message is always formatted, so that a format that does not match its
// arguments is caught by the sanitizers even when nothing is printed.
void __wrap_error(int status, int errnum, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(refusal_message, sizeof refusal_message, format, args);
    va_end(args);
    if (errnum != 0 && n >= 0 && static_cast<size_t>(n) < sizeof refusal_message) {
        std::snprintf(refusal_message + n, sizeof refusal_message - static_cast<size_t>(n), ": %s",
                      std::strerror(errnum));
    }
    if (status == 0) {
        return;  // a warning: the program goes on
    }
    if (armed != nullptr) {
        refuse(status);
    }
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", refusal_message);
    __real_exit(status);
}
