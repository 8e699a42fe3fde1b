// SPDX-License-Identifier: MIT
// The access family: clients ask whether they may open the device before they
// open it (µStreamer waits in a loop on access() for the node to appear).
// The node answers as a character device of mode 0660 whose owner is the
// caller: read and write allowed, execute refused. Other paths are
// redirected like opens and go to the C library.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "device_node.h"
#include "preload_paths.h"
#include "real_libc.h"

using namespace boardsim;

namespace {

int device_node_access(int mode) {
    if ((mode & ~(R_OK | W_OK | X_OK)) != 0) {
        errno = EINVAL;
        return -1;
    }
    if ((mode & X_OK) != 0) {
        errno = EACCES;
        return -1;
    }
    return 0;
}

}  // namespace

extern "C" {

int access(const char* path, int mode) noexcept {
    if (names_device_node(AT_FDCWD, path, 0)) {
        return device_node_access(mode);
    }
    static const auto real_fn = real::next<int (*)(const char*, int)>("access");
    if (real_fn == nullptr) {
        return real::missing();
    }
    char buffer[4096];
    return real_fn(redirect_path(path, buffer), mode);
}

int faccessat(int dirfd, const char* path, int mode, int flags) noexcept {
    if (names_device_node(dirfd, path, flags)) {
        return device_node_access(mode);
    }
    static const auto real_fn = real::next<int (*)(int, const char*, int, int)>("faccessat");
    if (real_fn == nullptr) {
        return real::missing();
    }
    char buffer[4096];
    return real_fn(dirfd, redirect_path(path, buffer), mode, flags);
}

int euidaccess(const char* path, int mode) noexcept {
    if (names_device_node(AT_FDCWD, path, 0)) {
        return device_node_access(mode);
    }
    static const auto real_fn = real::next<int (*)(const char*, int)>("euidaccess");
    if (real_fn == nullptr) {
        return real::missing();
    }
    char buffer[4096];
    return real_fn(redirect_path(path, buffer), mode);
}

int eaccess(const char* path, int mode) noexcept {
    return euidaccess(path, mode);
}

}  // extern "C"
