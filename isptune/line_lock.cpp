// SPDX-License-Identifier: MIT
#include "line_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

// How often a waiting run looks whether the line is free again: short
// beside a module exchange, long beside the cost of a look.
constexpr long kRetryNs = 10000000;

long long monotonic_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

void pause_retry() {
    const timespec retry{0, kRetryNs};
    nanosleep(&retry, nullptr);
}

// A holder's own TIOCEXCL refuses other opens (EBUSY) to all but root; that
// is waited for like the lock itself.
int open_within(const char* path, long long deadline) {
    for (;;) {
        const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0 || errno != EBUSY || monotonic_ms() >= deadline) {
            return fd;
        }
        pause_retry();
    }
}

}  // namespace

int lineTake(const char* path, int wait_ms) {
    const long long deadline = monotonic_ms() + wait_ms;
    const int fd = open_within(path, deadline);
    if (fd < 0) {
        return -1;
    }
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return fd;
        }
        const int error = errno;
        if ((error != EWOULDBLOCK && error != EINTR) || monotonic_ms() >= deadline) {
            close(fd);
            errno = error == EWOULDBLOCK ? EBUSY : error;
            return -1;
        }
        pause_retry();
    }
}

// /proc/locks names a lock's file by device and inode: "1: FLOCK  ADVISORY
// WRITE 1234 00:19:3 0 EOF" (major and minor in hex); lines of waiters
// ("1: -> FLOCK ...") are skipped.
pid_t lineHolder(const char* path) {
    struct stat node {};
    if (stat(path, &node) != 0) {
        return 0;
    }
    FILE* locks = std::fopen("/proc/locks", "re");
    if (locks == nullptr) {
        return 0;
    }
    pid_t holder = 0;
    char line[256];
    while (holder == 0 && std::fgets(line, sizeof line, locks) != nullptr) {
        char kind[16] = {};
        int pid = 0;
        unsigned major_number = 0;
        unsigned minor_number = 0;
        unsigned long long inode = 0;
        if (std::sscanf(line, "%*d: %15s %*s %*s %d %x:%x:%llu", kind, &pid, &major_number,
                        &minor_number, &inode) == 5 &&
            std::strcmp(kind, "FLOCK") == 0 && major_number == major(node.st_dev) &&
            minor_number == minor(node.st_dev) && inode == node.st_ino) {
            holder = pid;
        }
    }
    std::fclose(locks);
    return holder;
}

void lineGive(int fd) {
    if (fd >= 0) {
        close(fd);  // the lock goes with the last descriptor of its open file
    }
}
