// The exported wrappers: every variant of open, close and ioctl. Calls on the
// simulated device are served here; everything else goes to the C library.
// With BOARDSIM_DIR unset the library passes everything through untouched.
#undef _FORTIFY_SOURCE
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "real_libc.h"
#include "settings.h"
#include "v4l2_device.h"

using namespace boardsim;

namespace {

bool active() {
    return !get_settings().dir.empty();
}

// Only an open that creates a file carries a mode. (The analyzer does not
// follow a va_list handed to a function once va_start has run.)
mode_t mode_argument(int flags, va_list args) {
    return (flags & (O_CREAT | O_TMPFILE)) != 0
               ? static_cast<mode_t>(
                     va_arg(args, int))  // NOLINT(clang-analyzer-valist.Uninitialized)
               : 0;
}

int set_errno(int result) {
    if (result < 0) {
        errno = -result;
        return -1;
    }
    return result;
}

// The board's paths that live in the simulator's directory: the module's
// serial port (a link to the emulator's pseudo-terminal) and the module's
// configuration files in /etc, with anything created beside them.
const char* redirect(const char* path, char (&buffer)[4096]) {
    if (!active() || path == nullptr) {
        return path;
    }
    const std::string& dir = get_settings().dir;
    if (std::strcmp(path, "/dev/ttymxc2") == 0) {
        std::snprintf(buffer, sizeof buffer, "%s/ttymxc2", dir.c_str());
        return buffer;
    }
    if (std::strcmp(path, "/sys/dev/char/81:0/uevent") == 0) {
        // Where V4L2 clients learn what kind of node the device is.
        std::snprintf(buffer, sizeof buffer, "%s/uevent", dir.c_str());
        const int fd = real::open(buffer, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0) {
            static constexpr char kUevent[] = "MAJOR=81\nMINOR=0\nDEVNAME=video0\n";
            [[maybe_unused]] const ssize_t n = write(fd, kUevent, sizeof kUevent - 1);
            real::close(fd);
        }
        return buffer;
    }
    if (std::strncmp(path, "/etc/pixim", 10) == 0 && std::strchr(path + 5, '/') == nullptr) {
        std::snprintf(buffer, sizeof buffer, "%s/etc", dir.c_str());
        mkdir(buffer, 0755);
        std::snprintf(buffer, sizeof buffer, "%s/etc/%s", dir.c_str(), path + 5);
        return buffer;
    }
    return path;
}

int open_any(int dirfd, const char* path, int flags, mode_t mode) {
    if (active() && path != nullptr && std::strcmp(path, kDevicePath) == 0) {
        return set_errno(device_open(flags));
    }
    char buffer[4096];
    return real::openat(dirfd, redirect(path, buffer), flags, mode);
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = mode_argument(flags, args);
    va_end(args);
    return open_any(AT_FDCWD, path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = mode_argument(flags, args);
    va_end(args);
    return open_any(AT_FDCWD, path, flags, mode);
}

int __open_2(const char* path, int flags) {
    return open_any(AT_FDCWD, path, flags, 0);
}

int __open64_2(const char* path, int flags) {
    return open_any(AT_FDCWD, path, flags, 0);
}

int openat(int dirfd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = mode_argument(flags, args);
    va_end(args);
    return open_any(dirfd, path, flags, mode);
}

int openat64(int dirfd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = mode_argument(flags, args);
    va_end(args);
    return open_any(dirfd, path, flags, mode);
}

int __openat_2(int dirfd, const char* path, int flags) {
    return open_any(dirfd, path, flags, 0);
}

int __openat64_2(int dirfd, const char* path, int flags) {
    return open_any(dirfd, path, flags, 0);
}

int close(int fd) {
    if (active() && is_device(fd)) {
        return set_errno(device_close(fd));
    }
    return real::close(fd);
}

int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (active() && is_device(fd)) {
        return set_errno(device_ioctl(fd, request, arg));
    }
    return real::ioctl(fd, request, arg);
}

void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset) noexcept {
    if (active() && is_device(fd)) {
        return device_mmap(addr, length, prot, flags, offset);
    }
    return real::mmap(addr, length, prot, flags, fd, offset);
}

void* mmap64(void* addr, size_t length, int prot, int flags, int fd, off64_t offset) noexcept {
    if (active() && is_device(fd)) {
        return device_mmap(addr, length, prot, flags, static_cast<off_t>(offset));
    }
    return real::mmap64(addr, length, prot, flags, fd, offset);
}

FILE* fopen(const char* path, const char* mode) {
    char buffer[4096];
    return real::fopen(redirect(path, buffer), mode);
}

FILE* fopen64(const char* path, const char* mode) {
    char buffer[4096];
    return real::fopen64(redirect(path, buffer), mode);
}

int rename(const char* from, const char* to) noexcept {
    char from_buffer[4096];
    char to_buffer[4096];
    return real::rename(redirect(from, from_buffer), redirect(to, to_buffer));
}

int unlink(const char* path) noexcept {
    char buffer[4096];
    return real::unlink(redirect(path, buffer));
}

// A configuration file in /etc may be a link to persistent storage; its
// target is read from the simulator's /etc.
ssize_t readlink(const char* path, char* target, size_t size) noexcept {
    char buffer[4096];
    return real::readlink(redirect(path, buffer), target, size);
}

// The device node is a character device (major 81, as V4L2's) to clients
// that look before they open, like v4l2-ctl.
int stat(const char* path, struct stat* st) noexcept {
    if (active() && std::strcmp(path, kDevicePath) == 0) {
        device_stat(st);
        return 0;
    }
    char buffer[4096];
    return real::stat(redirect(path, buffer), st);
}

int fstat(int fd, struct stat* st) noexcept {
    if (active() && is_device(fd)) {
        device_stat(st);
        return 0;
    }
    return real::fstat(fd, st);
}

int poll(pollfd* fds, nfds_t nfds, int timeout) {
    if (active() && nfds == 1 && is_device(fds[0].fd)) {
        return set_errno(device_poll(fds, timeout));
    }
    return real::poll(fds, nfds, timeout);
}

}  // extern "C"
