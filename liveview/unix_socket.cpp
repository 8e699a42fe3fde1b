// SPDX-License-Identifier: MIT
#include "unix_socket.h"

#include <error.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>

namespace {

// Many viewers may arrive at once (a page opened by a crowd, relays
// started together): none waits for room in the queue.
constexpr int kBacklog = SOMAXCONN;

// The relay runs as the web server's user, which shares only the group
// with the server; the server's own umask (0077 under systemd) would shut
// it out.
constexpr mode_t kSocketMode = 0660;

// The address of `path`; false when the path does not fit.
bool address_of(const char* path, sockaddr_un* address) {
    *address = {};
    address->sun_family = AF_UNIX;
    if (std::strlen(path) >= sizeof address->sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::strcpy(address->sun_path, path);
    return true;
}

// A socket file nobody accepts on any more: left by a server that died.
bool is_stale_socket(const char* path) {
    struct stat st {};
    if (lstat(path, &st) != 0 || !S_ISSOCK(st.st_mode)) {
        return false;
    }
    const unique_fd probe = connect_unix(path);
    return !probe.valid() && errno == ECONNREFUSED;
}

}  // namespace

unique_fd connect_unix(const char* path) {
    sockaddr_un address{};
    if (!address_of(path, &address)) {
        return unique_fd{};
    }
    unique_fd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.valid() &&
        connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int saved = errno;
        fd.reset();
        errno = saved;
    }
    return fd;
}

bool listening_socket::open(const char* path) {
    sockaddr_un address{};
    if (!address_of(path, &address)) {
        error(0, errno, "can't listen on %s", path);
        return false;
    }
    fd_.reset(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd_.valid()) {
        error(0, errno, "can't create a socket");
        return false;
    }
    if (is_stale_socket(path)) {
        unlink(path);
    }
    const auto* any = reinterpret_cast<const sockaddr*>(&address);
    if (bind(fd_.get(), any, sizeof address) != 0) {
        error(0, errno, "can't listen on %s", path);
        fd_.reset();
        return false;
    }
    if (chmod(path, kSocketMode) != 0 || listen(fd_.get(), kBacklog) != 0) {
        error(0, errno, "can't listen on %s", path);
        unlink(path);
        fd_.reset();
        return false;
    }
    path_ = path;
    return true;
}

void listening_socket::close() {
    if (fd_.valid()) {
        unlink(path_.c_str());
        fd_.reset();
    }
}
