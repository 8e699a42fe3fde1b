// SPDX-License-Identifier: MIT
#include "pixim_line.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "trace_file.h"

namespace pixim {

volatile std::sig_atomic_t g_stop = 0;

namespace {

constexpr long kByteNs = 260000;       // 10 bits at 38400 baud
constexpr long kNoiseGapNs = 1000000;  // a line that keeps sending: topped up every millisecond

int g_trace = -1;
uint64_t g_trace_max = 0;
bool g_wire = false;

// The wire's clock: bytes leave on a fixed schedule, so that the sleeps'
// own overshoot does not add up over an answer.
timespec g_wire_clock{};

const char* baud_text(speed_t speed) {
    return speed == B38400    ? "38400"
           : speed == B9600   ? "9600"
           : speed == B115200 ? "115200"
                              : "other";
}

}  // namespace

void line_setup(const std::string& dir, bool wire) {
    g_trace_max = boardsim::trace_max_bytes_from_environment();
    g_trace = open((dir + "/trace").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    g_wire = wire;
}

void log_line(const std::string& line) {
    const std::string text = line + "\n";
    boardsim::trace_append(g_trace, text.data(), text.size(), g_trace_max);
}

std::string hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char byte[4];
    for (const uint8_t b : bytes) {
        std::snprintf(byte, sizeof byte, " %02X", b);
        text += byte;
    }
    return text;
}

void pause_ns(int64_t ns) {
    timespec t{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    while (nanosleep(&t, &t) != 0 && errno == EINTR && g_stop == 0) {
    }
}

void wire_start() {
    clock_gettime(CLOCK_MONOTONIC, &g_wire_clock);
}

void wire_wait_bytes(long n) {
    if (!g_wire) {
        return;
    }
    const long ns = g_wire_clock.tv_nsec + kByteNs * n;
    g_wire_clock.tv_sec += ns / 1000000000;
    g_wire_clock.tv_nsec = ns % 1000000000;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &g_wire_clock, nullptr) == EINTR &&
           g_stop == 0) {
    }
}

bool read_full(int fd, uint8_t* buffer, size_t n) {
    size_t got = 0;
    while (got < n) {
        const ssize_t r = read(fd, buffer + got, n - got);
        if (r <= 0) {
            if (r < 0 && errno == EINTR && g_stop == 0) {
                continue;
            }
            return false;
        }
        got += static_cast<size_t>(r);
    }
    return true;
}

void send(int fd, const std::vector<uint8_t>& bytes, bool split) {
    log_line("pixim tx" + hex(bytes));
    if (g_wire || split) {
        for (size_t i = 0; i < bytes.size(); ++i) {
            wire_wait_bytes(1);
            if (split && i == 1) {
                pause_ns(300000000);  // a pause in mid-answer, well inside a byte's time-out
            }
            [[maybe_unused]] const ssize_t n = write(fd, &bytes[i], 1);
        }
        return;
    }
    [[maybe_unused]] const ssize_t n = write(fd, bytes.data(), bytes.size());
}

void log_termios(int slave) {
    termios t{};
    if (tcgetattr(slave, &t) != 0) {
        return;
    }
    const int bits = (t.c_cflag & CSIZE) == CS8 ? 8 : (t.c_cflag & CSIZE) == CS7 ? 7 : 0;
    const char parity = (t.c_cflag & PARENB) == 0 ? 'N' : (t.c_cflag & PARODD) != 0 ? 'O' : 'E';
    const int stop = (t.c_cflag & CSTOPB) != 0 ? 2 : 1;
    const bool raw = (t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) == 0 && t.c_oflag == 0 &&
                     (t.c_iflag & ~tcflag_t{IGNPAR}) == 0;
    const bool flow = (t.c_cflag & CRTSCTS) != 0 || (t.c_iflag & (IXON | IXOFF)) != 0;
    char line[160];
    std::snprintf(line, sizeof line, "pixim termios %s %d%c%d %s vmin=%d vtime=%d%s%s",
                  baud_text(cfgetospeed(&t)), bits, parity, stop, raw ? "raw" : "cooked",
                  t.c_cc[VMIN], t.c_cc[VTIME], (t.c_cflag & CREAD) != 0 ? " cread" : "",
                  (t.c_cflag & CLOCAL) != 0 ? " clocal" : "");
    log_line(std::string(line) + (flow ? " flow" : ""));
}

// Instead of an answer, bytes of no known type that never stop, until we are
// stopped: noise on the line, or another device on the port. The line's
// buffer is kept full, so that a pause of ours leaves no quiet on it.
// Requests that still come are read and dropped.
void flood(int master) {
    log_line("pixim noise");
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    uint8_t noise[256];
    for (size_t i = 0; i < sizeof noise; ++i) {
        noise[i] = i % 2 == 0 ? 0xAA : 0x55;
    }
    uint8_t scratch[256];
    while (g_stop == 0) {
        while (read(master, scratch, sizeof scratch) > 0) {
        }
        [[maybe_unused]] const ssize_t n = write(master, noise, sizeof noise);
        pause_ns(kNoiseGapNs);
    }
}

}  // namespace pixim
