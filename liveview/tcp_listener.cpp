// SPDX-License-Identifier: MIT
#include "tcp_listener.h"

#include <arpa/inet.h>
#include <error.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

// The first descriptor systemd passes.
constexpr int kFirstActivatedFd = 3;

bool parse_port(std::string_view text, uint16_t* port) {
    constexpr unsigned kMaxPort = 65535;
    if (text.empty() || text.size() > 5) {
        return false;
    }
    unsigned value = 0;
    for (const char digit : text) {
        if (digit < '0' || digit > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(digit - '0');
    }
    if (value > kMaxPort) {
        return false;
    }
    *port = static_cast<uint16_t>(value);
    return true;
}

// A whole decimal number of the environment variable `name`, or -1.
long environment_number(const char* name) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return -1;
    }
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    return *end == '\0' && errno == 0 && value >= 0 ? value : -1;
}

}  // namespace

bool parse_listen_address(const char* text, sockaddr_storage* address, socklen_t* length) {
    const std::string_view all = text;
    const size_t colon = all.rfind(':');
    if (colon == std::string_view::npos) {
        return false;
    }
    std::string host(all.substr(0, colon));
    uint16_t port = 0;
    if (!parse_port(all.substr(colon + 1), &port)) {
        return false;
    }
    *address = {};
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        auto* six = reinterpret_cast<sockaddr_in6*>(address);
        six->sin6_family = AF_INET6;
        six->sin6_port = htons(port);
        *length = sizeof *six;
        return inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &six->sin6_addr) == 1;
    }
    auto* four = reinterpret_cast<sockaddr_in*>(address);
    four->sin_family = AF_INET;
    four->sin_port = htons(port);
    *length = sizeof *four;
    if (host.empty()) {
        four->sin_addr.s_addr = htonl(INADDR_ANY);
        return true;
    }
    return inet_pton(AF_INET, host.c_str(), &four->sin_addr) == 1;
}

unique_fd listen_tcp(const char* text) {
    sockaddr_storage address{};
    socklen_t length = 0;
    if (!parse_listen_address(text, &address, &length)) {
        errno = EINVAL;
        error(0, errno, "can't listen on %s", text);
        return {};
    }
    unique_fd fd(socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const int on = 1;
    if (!fd.valid() || setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        (address.ss_family == AF_INET6 &&
         setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0) ||
        bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
        listen(fd.get(), SOMAXCONN) != 0) {
        error(0, errno, "can't listen on %s", text);
        return {};
    }
    return fd;
}

std::vector<unique_fd> take_activated_sockets() {
    std::vector<unique_fd> sockets;
    const long pid = environment_number("LISTEN_PID");
    const long count = environment_number("LISTEN_FDS");
    unsetenv("LISTEN_PID");
    unsetenv("LISTEN_FDS");
    unsetenv("LISTEN_FDNAMES");
    if (pid != static_cast<long>(getpid()) || count <= 0) {
        return sockets;
    }
    for (long i = 0; i < count; ++i) {
        const int fd = kFirstActivatedFd + static_cast<int>(i);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        sockets.emplace_back(fd);
    }
    return sockets;
}

std::string describe_host(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto& four = reinterpret_cast<const sockaddr_in&>(address);
        inet_ntop(AF_INET, &four.sin_addr, text, sizeof text);
        return text;
    }
    if (address.ss_family == AF_INET6) {
        const auto& six = reinterpret_cast<const sockaddr_in6&>(address);
        inet_ntop(AF_INET6, &six.sin6_addr, text, sizeof text);
        return std::string("[") + text + "]";
    }
    return "local";
}

std::string describe_address(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET) {
        return describe_host(address) + ":" +
               std::to_string(ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port));
    }
    if (address.ss_family == AF_INET6) {
        return describe_host(address) + ":" +
               std::to_string(ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port));
    }
    return "local";
}

std::string describe_local(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return "local";
    }
    return describe_address(address);
}
