// SPDX-License-Identifier: MIT
#include "cssl.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

namespace {

bool g_started = false;
int g_error = CSSL_OK;
cssl_port* g_ports = nullptr;
int g_signal = 0;
struct sigaction g_installed_action {};
struct sigaction g_saved_action {};

constexpr const char* kMessages[] = {
    "cssl: OK",   "cssl: there's no free signal", "cssl: not started",      "cssl: null pointer",
    "cssl: oops", "cssl: out of memory",          "cssl: cannot open file",
};

// Runs in signal context: reads what arrived on a port opened with a
// callback and hands it to the callback.
void receive_handler(int /*signo*/, siginfo_t* info, void* /*context*/) {
    if (info->si_code != POLL_IN) {
        return;
    }
    cssl_port* port = g_ports;
    while (port != nullptr && port->fd != info->si_fd) {
        port = port->next;
    }
    if (port == nullptr) {
        return;
    }
    const ssize_t received = read(port->fd, port->buffer, 255);
    if (received > 0 && port->callback != nullptr) {
        port->callback(port->id, port->buffer, static_cast<int>(received));
    }
}

bool checks_pass(const cssl_port* port) {
    if (!g_started) {
        g_error = CSSL_NOT_STARTED;
        return false;
    }
    if (port == nullptr) {
        g_error = CSSL_NULL_POINTER;
        return false;
    }
    return true;
}

struct baud_rate {
    int baud;
    speed_t speed;
};

constexpr baud_rate kBaudRates[] = {
    {75, B75},       {110, B110},     {150, B150},     {300, B300},
    {600, B600},     {1200, B1200},   {2400, B2400},   {4800, B4800},
    {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
};

// Any rate not in the table, 9600 itself included, is 9600.
speed_t speed_of(int baud) {
    for (const baud_rate& rate : kBaudRates) {
        if (rate.baud == baud) {
            return rate.speed;
        }
    }
    return B9600;
}

}  // namespace

void cssl_start() {
    if (g_started) {
        return;
    }
    int sig = SIGRTMIN;
    for (; sig <= SIGRTMAX; ++sig) {
        sigaction(sig, nullptr, &g_saved_action);
        if (g_saved_action.sa_handler == SIG_DFL) {
            break;
        }
    }
    if (sig > SIGRTMAX) {
        g_error = CSSL_NO_FREE_SIGNAL;
        return;
    }
    g_installed_action = {};
    g_installed_action.sa_sigaction = receive_handler;
    g_installed_action.sa_flags = SA_SIGINFO;  // no SA_RESTART
    sigemptyset(&g_installed_action.sa_mask);
    g_signal = sig;
    sigaction(g_signal, &g_installed_action, nullptr);
    g_started = true;
    g_error = CSSL_OK;
}

cssl_port* cssl_open(const char* path, cssl_callback callback, int id, int baud, int parity,
                     int bits, int stop) {
    if (!g_started) {
        g_error = CSSL_NOT_STARTED;
        return nullptr;
    }
    auto* port = static_cast<cssl_port*>(std::calloc(1, sizeof(cssl_port)));
    if (port == nullptr) {
        g_error = CSSL_OUT_OF_MEMORY;
        return nullptr;
    }
    if (callback != nullptr) {
        port->fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (port->fd >= 0) {
            fcntl(port->fd, F_SETSIG, g_signal);
            fcntl(port->fd, F_SETOWN, getpid());
            fcntl(port->fd, F_SETFL, O_ASYNC | O_NONBLOCK);
        }
    } else {
        port->fd = open(path, O_RDWR | O_NOCTTY);
    }
    if (port->fd < 0) {
        g_error = CSSL_CANNOT_OPEN;
        std::free(port);
        return nullptr;
    }
    tcgetattr(port->fd, &port->saved_settings);
    cssl_setup(port, baud, bits, parity, stop);
    port->next = g_ports;
    g_ports = port;
    g_error = CSSL_OK;
    port->id = id;
    port->callback = callback;
    return port;
}

void cssl_close(cssl_port* port) {
    if (!checks_pass(port)) {
        return;
    }
    tcflush(port->fd, TCOFLUSH);
    tcflush(port->fd, TCIFLUSH);
    tcsetattr(port->fd, TCSANOW, &port->saved_settings);
    close(port->fd);

    cssl_port** link = &g_ports;
    while (*link != nullptr && *link != port) {
        link = &(*link)->next;
    }
    if (*link == nullptr) {
        g_error = CSSL_OOPS;  // not one of ours: closed, but not released
        return;
    }
    *link = port->next;
    std::free(port);
    g_error = CSSL_OK;
}

void cssl_setup(cssl_port* port, int baud, int bits, int parity, int stop) {
    if (!checks_pass(port)) {
        return;
    }
    port->settings = {};
    const tcflag_t size = bits == 7 ? CS7 : CS8;
    const tcflag_t parity_flags = parity == 1 ? (PARENB | PARODD) : parity == 2 ? PARENB : 0;
    const tcflag_t stop_flags = stop == 2 ? CSTOPB : 0;
    const speed_t speed = speed_of(baud);
    port->settings.c_cflag = speed | stop_flags | parity_flags | size | CREAD | CLOCAL;
    port->settings.c_iflag = IGNPAR;
    port->settings.c_oflag = 0;
    port->settings.c_lflag = 0;  // raw: no echo, no canonical input, no signals
    cfsetispeed(&port->settings, speed);
    cfsetospeed(&port->settings, speed);
    port->settings.c_cc[VTIME] = 0;
    port->settings.c_cc[VMIN] = 1;  // a read waits for one byte, then takes what is there
    tcflush(port->fd, TCOFLUSH);
    tcflush(port->fd, TCIFLUSH);
    tcsetattr(port->fd, TCSANOW, &port->settings);
    g_error = CSSL_OK;
}

int cssl_put_data(cssl_port* port, const void* data, int length) {
    if (!checks_pass(port)) {
        return -1;
    }
    return static_cast<int>(write(port->fd, data, static_cast<size_t>(length)));
}

int cssl_get_data(cssl_port* port, void* buffer, int size) {
    return static_cast<int>(read(port->fd, buffer, static_cast<size_t>(size)));
}

const char* cssl_error_message() {
    return kMessages[g_error];
}

int cssl_geterror() {
    return g_error;
}
