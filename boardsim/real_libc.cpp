// SPDX-License-Identifier: MIT
#include "real_libc.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace boardsim::real {

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

int poll(pollfd* fds, nfds_t nfds, int timeout) {
    static auto fn = next<int (*)(pollfd*, nfds_t, int)>("poll");
    return fn(fds, nfds, timeout);
}

FILE* fopen(const char* path, const char* mode) {
    static auto fn = next<FILE* (*)(const char*, const char*)>("fopen");
    return fn(path, mode);
}

FILE* fopen64(const char* path, const char* mode) {
    static auto fn = next<FILE* (*)(const char*, const char*)>("fopen64");
    return fn(path, mode);
}

int rename(const char* from, const char* to) {
    static auto fn = next<int (*)(const char*, const char*)>("rename");
    return fn(from, to);
}

int unlink(const char* path) {
    static auto fn = next<int (*)(const char*)>("unlink");
    return fn(path);
}

ssize_t readlink(const char* path, char* buffer, size_t size) {
    static auto fn = next<ssize_t (*)(const char*, char*, size_t)>("readlink");
    return fn(path, buffer, size);
}

int missing() {
    errno = ENOSYS;
    return -1;
}

void* next_symbol(const char* name) {
    return dlsym(RTLD_NEXT, name);
}

}  // namespace boardsim::real
