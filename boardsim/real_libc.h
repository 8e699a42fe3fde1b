// SPDX-License-Identifier: MIT
// The C library's own functions, looked up behind the wrappers this library
// exports. Code inside the simulator calls only these, never a wrapped name.
#pragma once

#include <poll.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>

namespace boardsim::real {

int open(const char* path, int flags, mode_t mode);
int openat(int dirfd, const char* path, int flags, mode_t mode);
int close(int fd);
int ioctl(int fd, unsigned long request, void* arg);
void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset);
void* mmap64(void* addr, size_t length, int prot, int flags, int fd, off64_t offset);
int poll(pollfd* fds, nfds_t nfds, int timeout);
FILE* fopen(const char* path, const char* mode);
FILE* fopen64(const char* path, const char* mode);
int rename(const char* from, const char* to);
int unlink(const char* path);
ssize_t readlink(const char* path, char* buffer, size_t size);
// The C library's own definition of an exported name; nullptr if it has none.
void* next_symbol(const char* name);

// The same, typed as the function it is.
template <typename F>
F next(const char* name) {
    return reinterpret_cast<F>(next_symbol(name));
}

// What a wrapper answers for a form this C library does not export.
int missing();

}  // namespace boardsim::real
