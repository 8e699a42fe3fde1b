// SPDX-License-Identifier: MIT
// The exported wrappers of open (every variant), close, dup, fcntl, ioctl,
// mmap, poll and the path functions (stat forms: preload_stat.cpp). Calls on the
// simulated device are served here; everything else goes to the C library.
// With BOARDSIM_DIR unset the library passes everything through untouched.
#undef _FORTIFY_SOURCE
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "open_files.h"
#include "preload_paths.h"
#include "real_libc.h"
#include "v4l2_device.h"

using namespace boardsim;

namespace {

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

int open_any(int dirfd, const char* path, int flags, mode_t mode) {
    if (simulator_active() && path != nullptr && std::strcmp(path, kDevicePath) == 0) {
        return set_errno(device_open(flags));
    }
    char buffer[4096];
    return real::openat(dirfd, redirect_path(path, buffer), flags, mode);
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
    if (simulator_active() && is_device(fd)) {
        return set_errno(device_close(fd));
    }
    return real::close(fd);
}

// Copies of a device descriptor refer to the same open file of the device
// (GStreamer's buffer pool streams on a dup() of the element's descriptor).
int dup(int fd) noexcept {
    static const auto real_dup = real::next<int (*)(int)>("dup");
    const int copy = real_dup(fd);
    if (copy >= 0 && simulator_active() && is_device(fd)) {
        open_file_dup(fd, copy);
    }
    return copy;
}

int dup3(int fd, int to, int flags) noexcept {
    static const auto real_dup3 = real::next<int (*)(int, int, int)>("dup3");
    if (simulator_active() && to != fd && is_device(to)) {
        device_descriptor_dropped(to);  // dup3 closes what `to` was
    }
    const int copy = real_dup3(fd, to, flags);
    if (copy >= 0 && simulator_active() && is_device(fd)) {
        open_file_dup(fd, copy);
    }
    return copy;
}

int dup2(int fd, int to) noexcept {
    if (fd == to) {
        return fcntl(fd, F_GETFD) < 0 ? -1 : to;
    }
    return dup3(fd, to, 0);
}

namespace {
int any_fcntl(const char* name, int fd, int cmd, unsigned long arg) {
    using fcntl_fn = int (*)(int, int, ...);
    static const auto real_fcntl = real::next<fcntl_fn>("fcntl");
    static const auto real_fcntl64 = real::next<fcntl_fn>("fcntl64");
    const fcntl_fn fn =
        std::strcmp(name, "fcntl64") == 0 && real_fcntl64 != nullptr ? real_fcntl64 : real_fcntl;
    const int result = fn(fd, cmd, arg);
    if (result >= 0 && (cmd == F_DUPFD || cmd == F_DUPFD_CLOEXEC) && simulator_active() &&
        is_device(fd)) {
        open_file_dup(fd, result);
    }
    return result;
}
}  // namespace

int fcntl(int fd, int cmd, ...) {
    va_list args;
    va_start(args, cmd);
    const unsigned long arg = va_arg(args, unsigned long);
    va_end(args);
    return any_fcntl("fcntl", fd, cmd, arg);
}

int fcntl64(int fd, int cmd, ...) {
    va_list args;
    va_start(args, cmd);
    const unsigned long arg = va_arg(args, unsigned long);
    va_end(args);
    return any_fcntl("fcntl64", fd, cmd, arg);
}

int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (simulator_active() && is_device(fd)) {
        // The kernel takes the request as an unsigned int: one that went
        // through an int on its way here (sign-extended) is the same request.
        return set_errno(device_ioctl(fd, static_cast<unsigned int>(request), arg));
    }
    return real::ioctl(fd, request, arg);
}

void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset) noexcept {
    if (simulator_active() && is_device(fd)) {
        return device_mmap(addr, length, prot, flags, offset);
    }
    return real::mmap(addr, length, prot, flags, fd, offset);
}

void* mmap64(void* addr, size_t length, int prot, int flags, int fd, off64_t offset) noexcept {
    if (simulator_active() && is_device(fd)) {
        return device_mmap(addr, length, prot, flags, static_cast<off_t>(offset));
    }
    return real::mmap64(addr, length, prot, flags, fd, offset);
}

FILE* fopen(const char* path, const char* mode) {
    char buffer[4096];
    return real::fopen(redirect_path(path, buffer), mode);
}

FILE* fopen64(const char* path, const char* mode) {
    char buffer[4096];
    return real::fopen64(redirect_path(path, buffer), mode);
}

int rename(const char* from, const char* to) noexcept {
    char from_buffer[4096];
    char to_buffer[4096];
    return real::rename(redirect_path(from, from_buffer), redirect_path(to, to_buffer));
}

int unlink(const char* path) noexcept {
    char buffer[4096];
    return real::unlink(redirect_path(path, buffer));
}

// A configuration file in /etc may be a link to persistent storage; its
// target is read from the simulator's /etc.
ssize_t readlink(const char* path, char* target, size_t size) noexcept {
    char buffer[4096];
    return real::readlink(redirect_path(path, buffer), target, size);
}

int poll(pollfd* fds, nfds_t nfds, int timeout) {
    if (simulator_active() && nfds == 1 && is_device(fds[0].fd)) {
        return set_errno(device_poll(fds, timeout));
    }
    return real::poll(fds, nfds, timeout);
}

}  // extern "C"
