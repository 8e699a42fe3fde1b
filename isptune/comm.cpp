// SPDX-License-Identifier: MIT
#include "comm.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "line_lock.h"

cssl_port* modulePort = nullptr;
bool moduleAnswerLost = false;

namespace {

// The descriptor that holds the line's lock for the run; -1 without one.
int lineLock = -1;
// Why the last commInit failed, for commInitFailed.
int openError = 0;

long long monotonic_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

// One wait of at most `timeout_ms` and one read of what is there: 0 when the
// line stayed quiet or has ended, -1 when nothing was lost and the caller
// should look at its clock and wait again (a signal, or a byte that poll
// promised and the read did not find).
int read_available(uint8_t* buffer, int size, int timeout_ms) {
    pollfd ready_poll{modulePort->fd, POLLIN, 0};
    const int ready = poll(&ready_poll, 1, timeout_ms);
    if (ready < 0 && errno == EINTR) {
        return -1;
    }
    if (ready <= 0 || (ready_poll.revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
        return 0;
    }
    const int received = cssl_get_data(modulePort, buffer, size);
    if (received > 0) {
        return received;
    }
    return received < 0 && (errno == EINTR || errno == EAGAIN) ? -1 : 0;
}

void report_line_busy() {
    const pid_t holder = lineHolder(kModulePortPath);
    if (holder > 0) {
        std::fprintf(stderr, "%s: %s is in use by process %d; gave up waiting after %d s\n",
                     program_invocation_name, kModulePortPath, static_cast<int>(holder),
                     kLineWaitMs / 1000);
    } else {
        std::fprintf(stderr, "%s: %s is in use by another process; gave up waiting after %d s\n",
                     program_invocation_name, kModulePortPath, kLineWaitMs / 1000);
    }
}

}  // namespace

int commInit() {
    cssl_start();
    moduleAnswerLost = false;
    // The line is taken before the port is set up: setting it up drops the
    // pending input, which may be another run's answer.
    lineLock = lineTake(kModulePortPath, kLineWaitMs);
    if (lineLock < 0 && errno == EBUSY) {
        openError = EBUSY;
        report_line_busy();
        return -1;
    }
    modulePort = lineLock < 0 ? nullptr : cssl_open(kModulePortPath, nullptr, 0, 38400, 0, 8, 1);
    if (modulePort == nullptr) {
        if (lineLock < 0) {
            cssl_open(kModulePortPath, nullptr, 0, 38400, 0, 8, 1);  // fails as the take did
        }
        openError = errno;
        std::printf("!!!%s\n", cssl_error_message());
        lineGive(lineLock);
        lineLock = -1;
        return -1;
    }
    // Reads never wait in the kernel: every wait is a poll with a time-out,
    // whatever another process does to the line.
    fcntl(modulePort->fd, F_SETFL, fcntl(modulePort->fd, F_GETFL) | O_NONBLOCK);
    // Programs that take no lock are kept out too (all but root's).
    ioctl(modulePort->fd, TIOCEXCL);
    return 0;
}

void commInitFailed() {
    std::printf("commInit  Error\n");
    std::fflush(stdout);
    if (openError != EBUSY) {
        std::fprintf(stderr, "isptune: cannot open %s: %s\n", kModulePortPath,
                     openError != 0 ? std::strerror(openError) : "failed");
    }
}

void commClose() {
    // A late answer must not arrive once the line has its old settings back:
    // a line that echoes would send it back to the module, and an answer
    // echoed parses as a write.
    if (moduleAnswerLost) {
        commDiscardUntilQuiet(kByteTimeoutMs, kQuietLimitMs);
    }
    // The flag outlives us when something else keeps the port open.
    ioctl(modulePort->fd, TIOCNXCL);
    cssl_close(modulePort);
    modulePort = nullptr;
    lineGive(lineLock);
    lineLock = -1;
}

int commReadWithin(uint8_t* buffer, uint16_t count, int timeout_ms) {
    int got = 0;
    long long deadline = monotonic_ms() + timeout_ms;
    while (got < count) {
        const long long left = deadline - monotonic_ms();
        if (left <= 0) {
            break;
        }
        const int received = read_available(buffer + got, count - got, static_cast<int>(left));
        if (received == 0) {
            break;
        }
        if (received > 0) {
            got += received;
            deadline = monotonic_ms() + timeout_ms;  // the silence is counted from each byte
        }
    }
    return got;
}

bool commDiscardUntilQuiet(int quiet_ms, int limit_ms) {
    const long long deadline = monotonic_ms() + limit_ms;
    uint8_t scratch[64];
    for (;;) {
        const long long left = deadline - monotonic_ms();
        if (left <= 0) {
            return false;
        }
        // Quiet must be seen whole within the limit.
        const bool limited = left < quiet_ms;
        const int received =
            read_available(scratch, sizeof scratch, limited ? static_cast<int>(left) : quiet_ms);
        if (received == 0) {
            return !limited;
        }
    }
}

void commDiscardPending() {
    tcflush(modulePort->fd, TCIFLUSH);
}

int commRead(uint8_t* buffer, uint16_t count) {
    return commReadWithin(buffer, count, kByteTimeoutMs);
}

// The port does not wait in write() either: a frame that the line's buffer
// cannot take at once is finished as room appears, for at most a byte's
// time-out without progress.
int commWrite(const uint8_t* data, uint16_t count) {
    int sent = 0;
    while (sent < count) {
        const int written = cssl_put_data(modulePort, data + sent, count - sent);
        if (written > 0) {
            sent += written;
            continue;
        }
        if (written < 0 && errno != EAGAIN && errno != EINTR) {
            break;
        }
        pollfd room{modulePort->fd, POLLOUT, 0};
        if (poll(&room, 1, kByteTimeoutMs) == 0) {
            break;
        }
    }
    return count;
}
