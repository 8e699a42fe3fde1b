// SPDX-License-Identifier: MIT
// On 32-bit hosts the C library also exports the stat forms of programs
// built with 64-bit time (_TIME_BITS=64): this file is compiled that way, so
// that `struct stat` here is their record.
#include <fcntl.h>
#include <sys/stat.h>

#include "device_node.h"
#include "preload_paths.h"
#include "real_libc.h"

static_assert(sizeof(time_t) == 8, "compiled with _TIME_BITS=64");

using namespace boardsim;

namespace {

using path_stat = int (*)(const char*, struct stat*);
using fd_stat = int (*)(int, struct stat*);
using at_stat = int (*)(int, const char*, struct stat*, int);

}  // namespace

extern "C" {

int __stat64_time64(const char* path, struct stat* st) {
    if (names_device_node(AT_FDCWD, path, 0)) {
        return device_node_stat(st);
    }
    static const auto real_fn = real::next<path_stat>("__stat64_time64");
    char buffer[4096];
    return real_fn == nullptr ? real::missing() : real_fn(redirect_path(path, buffer), st);
}

int __lstat64_time64(const char* path, struct stat* st) {
    if (names_device_node(AT_FDCWD, path, 0)) {
        return device_node_stat(st);
    }
    static const auto real_fn = real::next<path_stat>("__lstat64_time64");
    char buffer[4096];
    return real_fn == nullptr ? real::missing() : real_fn(redirect_path(path, buffer), st);
}

int __fstat64_time64(int fd, struct stat* st) {
    if (is_device_descriptor(fd)) {
        return device_node_stat(st);
    }
    static const auto real_fn = real::next<fd_stat>("__fstat64_time64");
    return real_fn == nullptr ? real::missing() : real_fn(fd, st);
}

int __fstatat64_time64(int dirfd, const char* path, struct stat* st, int flags) {
    if (names_device_node(dirfd, path, flags)) {
        return device_node_stat(st);
    }
    static const auto real_fn = real::next<at_stat>("__fstatat64_time64");
    char buffer[4096];
    return real_fn == nullptr ? real::missing()
                              : real_fn(dirfd, redirect_path(path, buffer), st, flags);
}

}  // extern "C"
