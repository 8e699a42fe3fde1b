// The exported wrappers: every variant of open, close and ioctl. Calls on the
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
#include <cstring>

#include "real_libc.h"
#include "settings.h"
#include "v4l2_device.h"

using namespace boardsim;

namespace {

bool active() {
    return !get_settings().dir.empty();
}

// Only an open that creates a file carries a mode.
mode_t mode_argument(int flags, va_list args) {
    return (flags & (O_CREAT | O_TMPFILE)) != 0 ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

int set_errno(int result) {
    if (result < 0) {
        errno = -result;
        return -1;
    }
    return result;
}

int open_any(int dirfd, const char* path, int flags, mode_t mode) {
    if (active() && path != nullptr && std::strcmp(path, kDevicePath) == 0) {
        return set_errno(device_open(flags));
    }
    return real::openat(dirfd, path, flags, mode);
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

int poll(pollfd* fds, nfds_t nfds, int timeout) {
    if (active() && nfds == 1 && is_device(fds[0].fd)) {
        return set_errno(device_poll(fds, timeout));
    }
    return real::poll(fds, nfds, timeout);
}

}  // extern "C"
