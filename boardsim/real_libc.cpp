#include "real_libc.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace boardsim::real {

namespace {
template <typename F>
F next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}
}  // namespace

// open goes straight to the kernel: it must work before dlsym can be trusted
// (the dynamic loader itself opens files early) and needs no lookup.
int open(const char* path, int flags, mode_t mode) {
    return openat(AT_FDCWD, path, flags, mode);
}

int openat(int dirfd, const char* path, int flags, mode_t mode) {
    return static_cast<int>(syscall(SYS_openat, dirfd, path, flags, mode));
}

int close(int fd) {
    static auto fn = next<int (*)(int)>("close");
    return fn(fd);
}

int ioctl(int fd, unsigned long request, void* arg) {
    static auto fn = next<int (*)(int, unsigned long, ...)>("ioctl");
    return fn(fd, request, arg);
}

void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset) {
    static auto fn = next<void* (*)(void*, size_t, int, int, int, off_t)>("mmap");
    return fn(addr, length, prot, flags, fd, offset);
}

void* mmap64(void* addr, size_t length, int prot, int flags, int fd, off64_t offset) {
    static auto fn = next<void* (*)(void*, size_t, int, int, int, off64_t)>("mmap64");
    return fn(addr, length, prot, flags, fd, offset);
}

int poll(struct pollfd* fds, unsigned long nfds, int timeout) {
    static auto fn = next<int (*)(struct pollfd*, unsigned long, int)>("poll");
    return fn(fds, nfds, timeout);
}

}  // namespace boardsim::real
