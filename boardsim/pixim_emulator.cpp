// SPDX-License-Identifier: MIT
// The Pixim camera module, emulated on the master side of a pseudo-terminal.
// The preload library sends opens of /dev/ttymxc2 to the slave side (through
// the link $BOARDSIM_DIR/ttymxc2), so isptune's termios calls act on a real
// tty. Written from the module's side of the protocol, independently of
// isptune's own framing code. This file sets the terminal up and serves
// requests; pixim_module.cpp answers them, pixim_line.cpp moves the bytes.
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
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pixim_line.h"
#include "pixim_module.h"

using namespace pixim;

namespace {

void on_stop(int /*signal*/) {
    g_stop = 1;
}

// The pseudo-terminal, raw, with its slave's path; -1 on failure. Our own
// hold on the slave (`slave`) keeps the master readable between isptune runs.
int open_terminal(std::string* slave_path, int* slave) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        return -1;
    }
    *slave_path = ptsname(master);
    *slave = open(slave_path->c_str(), O_RDWR | O_NOCTTY);
    termios raw{};
    tcgetattr(*slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(*slave, TCSANOW, &raw);
    return master;
}

// One request: its length byte tells how much follows. False when the
// line is gone or the emulator stopped.
bool read_request(int master, std::vector<uint8_t>* request) {
    request->assign(2, 0);
    if (!read_full(master, request->data(), 2)) {
        return false;
    }
    wire_start();  // the request's first bytes are here: its time on the wire starts
    const size_t rest = (*request)[1] + 1U;
    request->resize(2 + rest);
    return read_full(master, request->data() + 2, rest);
}

// Answers one request as the fault wants it; false when the line floods
// from now on and serving ends.
bool serve_request(int master, int slave, const fault& f, const std::vector<uint8_t>& request) {
    log_line("pixim rx" + hex(request));
    log_termios(slave);
    wire_wait_bytes(static_cast<long>(request.size()));
    if (complement_sum(std::vector<uint8_t>(request.begin(), request.end() - 1)) !=
        request.back()) {
        send(master, {0x03}, false);  // a garbled request is refused
        return true;
    }
    delivery how;
    const std::vector<uint8_t> reply = answer(request, f, &how);
    if (how.silent) {
        log_line("pixim silent");
        return true;
    }
    if (how.noise) {
        flood(master);
        return false;
    }
    if (how.late_ms > 0) {
        log_line("pixim late " + std::to_string(how.late_ms));
        pause_ns(int64_t{how.late_ms} * 1000000);
    }
    send(master, reply, how.split);
    return true;
}

}  // namespace

int main() {
    const char* dir_setting = std::getenv("BOARDSIM_DIR");
    if (dir_setting == nullptr) {
        std::fprintf(stderr, "pixim_emulator: BOARDSIM_DIR is not set\n");
        return 2;
    }
    const std::string dir = dir_setting;
    const char* wire_setting = std::getenv("BOARDSIM_PIXIM_WIRE");
    const bool wire = wire_setting != nullptr && std::strcmp(wire_setting, "1") == 0;
    line_setup(dir, wire);
    const fault f = parse_fault(std::getenv("BOARDSIM_PIXIM_FAULT"));
    if (wire) {
        prctl(PR_SET_TIMERSLACK, 1UL);  // byte times are a quarter millisecond
    }
    load_properties(dir);

    std::string slave_path;
    int slave = -1;
    const int master = open_terminal(&slave_path, &slave);
    if (master < 0) {
        std::perror("pixim_emulator: pseudo-terminal");
        return 1;
    }
    const std::string link = dir + "/ttymxc2";
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

    std::vector<uint8_t> request;
    while (g_stop == 0 && read_request(master, &request) &&
           serve_request(master, slave, f, request)) {
    }
    unlink(link.c_str());
    return 0;
}
