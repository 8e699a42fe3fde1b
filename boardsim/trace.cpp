// SPDX-License-Identifier: MIT
#include "trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "real_libc.h"
#include "settings.h"
#include "trace_file.h"

namespace boardsim {

namespace {
constexpr int kTraceFdFloor = 900;

int trace_fd() {
    static const int fd = [] {
        const std::string path = get_settings().dir + "/trace";
        const int opened =
            real::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        // Moved out of the way, so that the program's own descriptors are
        // numbered as they would be on the board.
        const int moved = opened < 0 ? -1 : fcntl(opened, F_DUPFD_CLOEXEC, kTraceFdFloor);
        if (moved >= 0) {
            real::close(opened);
            return moved;
        }
        return opened;
    }();
    return fd;
}
}  // namespace

void trace(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): va_start ran just above
    int length = std::vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    if (length < 0) {
        return;
    }
    if (length > static_cast<int>(sizeof line) - 2) {
        length = static_cast<int>(sizeof line) - 2;
    }
    line[length++] = '\n';
    trace_append(trace_fd(), line, static_cast<size_t>(length), get_settings().trace_max);
}

const char* result_text(int result, char (&buffer)[24]) {
    if (result >= 0) {
        std::snprintf(buffer, sizeof buffer, "%d", result);
    } else {
        const char* name = errno_name(-result);
        if (name[1] == '?') {
            std::snprintf(buffer, sizeof buffer, "-%d", -result);
        } else {
            std::snprintf(buffer, sizeof buffer, "-%s", name);
        }
    }
    return buffer;
}

}  // namespace boardsim
