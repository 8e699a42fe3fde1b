#include "comm.h"

#include <poll.h>
#include <termios.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

cssl_port* modulePort = nullptr;
bool moduleAnswerLost = false;

namespace {

long long monotonic_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

// One wait of at most `timeout_ms` and one read of what is there: 0 when the
// line stayed quiet or has ended.
int read_available(uint8_t* buffer, int size, int timeout_ms) {
    pollfd ready_poll{modulePort->fd, POLLIN, 0};
    const int ready = poll(&ready_poll, 1, timeout_ms);
    if (ready < 0 && errno == EINTR) {
        return -1;  // nothing lost: the caller looks at its clock and waits again
    }
    if (ready <= 0 || (ready_poll.revents & POLLIN) == 0) {
        return 0;
    }
    const int received = cssl_get_data(modulePort, buffer, size);
    return received > 0 ? received : (received < 0 && errno == EINTR ? -1 : 0);
}

}  // namespace

int commInit() {
    cssl_start();
    modulePort = cssl_open(kModulePortPath, nullptr, 0, 38400, 0, 8, 1);
    moduleAnswerLost = false;
    if (modulePort == nullptr) {
        std::printf("!!!%s\n", cssl_error_message());
        return -1;
    }
    return 0;
}

void commClose() {
    cssl_close(modulePort);
    modulePort = nullptr;
}

int commReadWithin(uint8_t* buffer, uint16_t count, int timeout_ms) {
    int got = 0;
    while (got < count) {
        // The port waits without limit for its first byte (VMIN 1); a silent
        // module must not hold us for ever.
        pollfd ready_poll{modulePort->fd, POLLIN, 0};
        const int ready = poll(&ready_poll, 1, timeout_ms);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0 || (ready_poll.revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
            break;
        }
        const int received = cssl_get_data(modulePort, buffer + got, count - got);
        if (received <= 0) {
            if (received < 0 && errno == EINTR) {
                continue;
            }
            break;
        }
        got += received;
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

int commWrite(const uint8_t* data, uint16_t count) {
    cssl_put_data(modulePort, data, count);
    return count;
}
