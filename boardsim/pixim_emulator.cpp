// The Pixim camera module, emulated on the master side of a pseudo-terminal.
// The preload library sends opens of /dev/ttymxc2 to the slave side (through
// the link $BOARDSIM_DIR/ttymxc2), so isptune's termios calls act on a real
// tty. Written from the module's side of the protocol, independently of
// isptune's own framing code.
//
// Settings (environment, read at start):
//   BOARDSIM_DIR          the simulator's directory (required)
//   BOARDSIM_PIXIM_FAULT  kind[@id]: nak, error:CODE, error:CODE:badsum, datasum,
//                         count, stray, split, silent, late[:MS], noise; @id limits
//                         it to one property
//   BOARDSIM_PIXIM_WIRE   1: take as long as 38400 baud does (about 260 us a byte)
//
// Trace lines: "pixim rx HEX..." for every request, "pixim tx HEX..." for every
// answer, "pixim termios ..." with the line settings when a request arrives.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr long kByteNs = 260000;       // 10 bits at 38400 baud
constexpr long kLateMsDefault = 1500;  // past isptune's wait of a second for an answer
constexpr long kNoiseGapNs = 1000000;  // a line that keeps sending: topped up every millisecond

struct fault {
    std::string kind;
    int code = 0;
    bool badsum = false;
    long id = -1;  // -1: every request
};

std::string g_dir;
int g_trace = -1;
fault g_fault;
bool g_wire = false;
volatile sig_atomic_t g_stop = 0;

// Property widths on the wire, as the module defines its properties.
int width_of(unsigned id) {
    switch (id) {
        case 0x25:
        case 0x26:
        case 0x27:
            return 2;
        case 0x75:
        case 0x38:
            return 4;
        default:
            return 1;
    }
}

std::map<unsigned, int32_t> g_properties = {
    {0x2E, 1},  {0x2F, 60}, {0x1A, 1},    {0x1B, 18}, {0x8F, 0}, {0x30, 1}, {0x33, 0},
    {0x22, 2},  {0x23, 1},  {0x25, 5600}, {0x26, 0},  {0x27, 0}, {0x12, 1}, {0x15, 128},
    {0x16, 10}, {0x75, 0},  {0x38, 0},    {0x0C, 1},  {0x0F, 0},
};

void log_line(const std::string& line) {
    const std::string text = line + "\n";
    if (g_trace >= 0) {
        [[maybe_unused]] const ssize_t n = write(g_trace, text.data(), text.size());
    }
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

void load_state() {
    FILE* f = std::fopen((g_dir + "/pixim.state").c_str(), "r");
    if (f == nullptr) {
        return;
    }
    unsigned id = 0;
    int value = 0;
    while (std::fscanf(f, "%x %d", &id, &value) == 2) {
        g_properties[id] = value;
    }
    std::fclose(f);
}

void save_state() {
    const std::string path = g_dir + "/pixim.state";
    FILE* f = std::fopen((path + ".new").c_str(), "w");
    if (f == nullptr) {
        return;
    }
    for (const auto& [id, value] : g_properties) {
        std::fprintf(f, "0x%02X %d\n", id, value);
    }
    std::fclose(f);
    std::rename((path + ".new").c_str(), path.c_str());
}

void pause_ns(long ns) {
    timespec t{ns / 1000000000, ns % 1000000000};
    while (nanosleep(&t, &t) != 0 && errno == EINTR && g_stop == 0) {
    }
}

// The wire's clock: bytes leave on a fixed schedule, so that the sleeps'
// own overshoot does not add up over an answer.
timespec g_wire_clock{};

void wire_start() {
    clock_gettime(CLOCK_MONOTONIC, &g_wire_clock);
}

void wire_wait_bytes(long n) {
    long ns = g_wire_clock.tv_nsec + kByteNs * n;
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

// How an answer leaves, as the fault wants it.
struct delivery {
    bool silent = false;
    bool split = false;
    bool noise = false;
    long late_ms = 0;
};

void send(int fd, const std::vector<uint8_t>& bytes, bool split) {
    log_line("pixim tx" + hex(bytes));
    if (g_wire || split) {
        for (size_t i = 0; i < bytes.size(); ++i) {
            if (g_wire) {
                wire_wait_bytes(1);
            }
            if (split && i == 1) {
                pause_ns(300000000);  // a pause in mid-answer, well inside a byte's time-out
            }
            [[maybe_unused]] const ssize_t n = write(fd, &bytes[i], 1);
        }
        return;
    }
    [[maybe_unused]] const ssize_t n = write(fd, bytes.data(), bytes.size());
}

uint8_t complement_sum(const std::vector<uint8_t>& bytes) {
    unsigned sum = 0;
    for (const uint8_t b : bytes) {
        sum += b;
    }
    return static_cast<uint8_t>(~sum & 0xFF);
}

void log_termios(int slave) {
    termios t{};
    if (tcgetattr(slave, &t) != 0) {
        return;
    }
    const speed_t speed = cfgetospeed(&t);
    const char* baud = speed == B38400    ? "38400"
                       : speed == B9600   ? "9600"
                       : speed == B115200 ? "115200"
                                          : "other";
    const int bits = (t.c_cflag & CSIZE) == CS8 ? 8 : (t.c_cflag & CSIZE) == CS7 ? 7 : 0;
    const char parity = (t.c_cflag & PARENB) == 0 ? 'N' : (t.c_cflag & PARODD) != 0 ? 'O' : 'E';
    const int stop = (t.c_cflag & CSTOPB) != 0 ? 2 : 1;
    const bool raw = (t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) == 0 && t.c_oflag == 0 &&
                     (t.c_iflag & ~IGNPAR) == 0;
    const bool flow = (t.c_cflag & CRTSCTS) != 0 || (t.c_iflag & (IXON | IXOFF)) != 0;
    char line[160];
    std::snprintf(line, sizeof line, "pixim termios %s %d%c%d %s vmin=%d vtime=%d%s%s", baud, bits,
                  parity, stop, raw ? "raw" : "cooked", t.c_cc[VMIN], t.c_cc[VTIME],
                  (t.c_cflag & CREAD) != 0 ? " cread" : "",
                  (t.c_cflag & CLOCAL) != 0 ? " clocal" : "");
    log_line(std::string(line) + (flow ? " flow" : ""));
}

// The answer to one well-formed request.
std::vector<uint8_t> answer(const std::vector<uint8_t>& request, delivery* how) {
    const uint8_t command = request[0];
    const uint8_t length = request[1];
    const unsigned id = length >= 2 ? unsigned{request[2]} << 8 | request[3] : 0;
    const bool faulty =
        !g_fault.kind.empty() &&
        (g_fault.id < 0 || (command != 0x44 && g_fault.id == static_cast<long>(id)));
    const std::string kind = faulty ? g_fault.kind : "";
    how->silent = kind == "silent";
    how->split = kind == "split";
    how->noise = kind == "noise";
    how->late_ms = kind != "late" ? 0 : g_fault.code > 0 ? g_fault.code : kLateMsDefault;
    if (kind == "nak") {
        return {0x03};
    }
    if (kind == "error") {
        std::vector<uint8_t> e = {0x04, static_cast<uint8_t>(g_fault.code)};
        e.push_back(static_cast<uint8_t>(complement_sum(e) + (g_fault.badsum ? 1 : 0)));
        return e;
    }
    if (kind == "stray") {
        return {0x07, 0xAA, 0x55, 0x00, 0xFF, 0x12};
    }
    switch (command) {
        case 0x02: {  // SetProperty: id, value at the property's width, big-endian
            int32_t value = 0;
            const int width = length - 2;
            for (int i = 0; i < width; ++i) {
                value = static_cast<int32_t>(static_cast<uint32_t>(value) << 8 | request[4 + i]);
            }
            if (width == 1) {
                value = id == 0x0F ? static_cast<int8_t>(value) : value & 0xFF;
            } else if (width == 2) {
                value = static_cast<int16_t>(value);
            }
            g_properties[id] = value;
            save_state();
            return {0x01};
        }
        case 0x03: {  // GetProperty: a data answer at the property's width
            const int width = width_of(id);
            const auto value =
                static_cast<uint32_t>(g_properties.count(id) != 0 ? g_properties[id] : 0);
            std::vector<uint8_t> d = {0x02,
                                      static_cast<uint8_t>(width + (kind == "count" ? 1 : 0))};
            for (int i = width - 1; i >= 0; --i) {
                d.push_back(static_cast<uint8_t>(value >> (8 * i)));
            }
            if (kind == "count") {
                d.push_back(0x00);
            }
            d.push_back(static_cast<uint8_t>(complement_sum(d) + (kind == "datasum" ? 1 : 0)));
            return d;
        }
        case 0x44:  // OsdClearText
            log_line("pixim osd clear " + std::to_string(request[2]));
            return {0x01};
        default:
            return {0x04, 0x01, 0xFA};  // unknown command
    }
}

void parse_fault(const char* text) {
    if (text == nullptr || *text == '\0') {
        return;
    }
    std::string s = text;
    const size_t at = s.find('@');
    if (at != std::string::npos) {
        g_fault.id = std::strtol(s.c_str() + at + 1, nullptr, 0);
        s = s.substr(0, at);
    }
    const size_t colon = s.find(':');
    g_fault.kind = s.substr(0, colon);
    if (colon != std::string::npos) {
        g_fault.code = static_cast<int>(std::strtol(s.c_str() + colon + 1, nullptr, 0));
        g_fault.badsum = s.find(":badsum") != std::string::npos;
    }
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

void on_stop(int) {
    g_stop = 1;
}

}  // namespace

int main() {
    const char* dir = std::getenv("BOARDSIM_DIR");
    if (dir == nullptr) {
        std::fprintf(stderr, "pixim_emulator: BOARDSIM_DIR is not set\n");
        return 2;
    }
    g_dir = dir;
    g_trace = open((g_dir + "/trace").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    parse_fault(std::getenv("BOARDSIM_PIXIM_FAULT"));
    const char* wire = std::getenv("BOARDSIM_PIXIM_WIRE");
    g_wire = wire != nullptr && std::strcmp(wire, "1") == 0;
    if (g_wire) {
        prctl(PR_SET_TIMERSLACK, 1UL);  // byte times are a quarter millisecond
    }
    load_state();

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("pixim_emulator: pseudo-terminal");
        return 1;
    }
    const std::string slave_path = ptsname(master);
    // Our own hold on the slave keeps the master readable between isptune runs.
    const int slave = open(slave_path.c_str(), O_RDWR | O_NOCTTY);
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);

    const std::string link = g_dir + "/ttymxc2";
    unlink(link.c_str());
    if (symlink(slave_path.c_str(), link.c_str()) != 0) {
        std::perror("pixim_emulator: link");
        return 1;
    }
    struct sigaction stop {};
    stop.sa_handler = on_stop;
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    // Ready: the test that started us waits for this line.
    std::printf("ready %s\n", slave_path.c_str());
    std::fflush(stdout);

    while (g_stop == 0) {
        std::vector<uint8_t> request(2);
        if (!read_full(master, request.data(), 2)) {
            break;
        }
        wire_start();  // the request's first bytes are here: its time on the wire starts
        request.resize(2 + request[1] + 1);
        if (!read_full(master, request.data() + 2, request[1] + 1u)) {
            break;
        }
        log_line("pixim rx" + hex(request));
        log_termios(slave);
        if (g_wire) {
            wire_wait_bytes(static_cast<long>(request.size()));
        }
        if (complement_sum(std::vector<uint8_t>(request.begin(), request.end() - 1)) !=
            request.back()) {
            send(master, {0x03}, false);  // a garbled request is refused
            continue;
        }
        delivery how;
        const std::vector<uint8_t> reply = answer(request, &how);
        if (how.silent) {
            log_line("pixim silent");
            continue;
        }
        if (how.noise) {
            flood(master);
            break;
        }
        if (how.late_ms > 0) {
            log_line("pixim late " + std::to_string(how.late_ms));
            pause_ns(how.late_ms * 1000000);
        }
        send(master, reply, how.split);
    }
    unlink(link.c_str());
    return 0;
}
