#include "comm.h"

#include <poll.h>

#include <cerrno>
#include <cstdio>

cssl_port* modulePort = nullptr;

int commInit() {
    cssl_start();
    modulePort = cssl_open(kModulePortPath, nullptr, 0, 38400, 0, 8, 1);
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
        pollfd p{modulePort->fd, POLLIN, 0};
        const int ready = poll(&p, 1, timeout_ms);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0 || (p.revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
            break;
        }
        const int n = cssl_get_data(modulePort, buffer + got, count - got);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            break;
        }
        got += n;
    }
    return got;
}

int commRead(uint8_t* buffer, uint16_t count) {
    return commReadWithin(buffer, count, kByteTimeoutMs);
}

int commWrite(const uint8_t* data, uint16_t count) {
    cssl_put_data(modulePort, data, count);
    return count;
}
