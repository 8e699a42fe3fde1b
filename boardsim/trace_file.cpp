// SPDX-License-Identifier: MIT
#include "trace_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace boardsim {

void trace_append(int fd, const char* line, size_t length, uint64_t max_bytes) {
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || static_cast<uint64_t>(st.st_size) >= max_bytes) {
        return;
    }
    if (write(fd, line, length) != static_cast<ssize_t>(length)) {
        return;
    }
    // Appends of whole lines are ordered: only the one that crossed the bound
    // sees its own end past it and its start before it, in whichever process.
    const off_t end = lseek(fd, 0, SEEK_CUR);
    if (end < 0 || static_cast<uint64_t>(end) < max_bytes ||
        static_cast<uint64_t>(end) - length >= max_bytes) {
        return;
    }
    char note[128];
    const int n =
        std::snprintf(note, sizeof note,
                      "trace cut at %llu bytes (BOARDSIM_TRACE_MAX): later lines are not written\n",
                      static_cast<unsigned long long>(max_bytes));
    [[maybe_unused]] const ssize_t written = write(fd, note, static_cast<size_t>(n));
}

uint64_t trace_max_bytes_from_environment() {
    const char* text = std::getenv("BOARDSIM_TRACE_MAX");
    if (text == nullptr || *text == '\0') {
        return kTraceMaxDefault;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long long bytes = std::strtoull(text, &end, 0);
    if (errno != 0 || *end != '\0' || *text == '-' || *text == '+' || *text == ' ' ||
        bytes > UINT32_MAX) {
        std::fprintf(stderr,
                     "boardsim: refused setting BOARDSIM_TRACE_MAX=%s: expected a number from 0 "
                     "to %u\n",
                     text, UINT32_MAX);
        std::exit(125);
    }
    return bytes;
}

}  // namespace boardsim
