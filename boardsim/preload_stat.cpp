// SPDX-License-Identifier: MIT
// The stat family, every form the C library exports: clients look at the
// device node before they open it (GStreamer's v4l2src calls stat64,
// v4l2-ctl stat, others fstat, fstatat, statx or the old __xstat forms).
// Other paths are redirected like opens and go to the C library.
#include <fcntl.h>
#include <sys/stat.h>

#include "device_node.h"
#include "preload_paths.h"
#include "real_libc.h"

using namespace boardsim;

extern "C" {

int stat(const char* path, struct stat* st) noexcept {
    if (names_device_node(AT_FDCWD, path, 0)) {
        return device_node_stat(st);
    }
    static const auto real_fn = real::next<int (*)(const char*, struct stat*)>("stat");
    if (real_fn == nullptr) {
        return real::missing();
    }
    char buffer[4096];
    return real_fn(redirect_path(path, buffer), st);
}

int stat64(const char* path, struct stat64* st) noexcept {
    if (names_device_node(AT_FDCWD, path, 0)) {
        return device_node_stat(st);
    }
    static const auto real_fn = real::next<int (*)(const char*, struct stat64*)>("stat64");
    if (real_fn == nullptr) {
        return real::missing();
    }
    char buffer[4096];
    return real_fn(redirect_path(path, buffer), st);
}

int lstat(const char* path, struct stat* st) noexcept {
    if (names_device_node(AT_FDCWD, path, 0)) {
        return device_node_stat(st);
    }
    static const auto real_fn = real::next<int (*)(const char*, struct stat*)>("lstat");
    if (real_fn == nullptr) {
        return real::missing();
    }
    char buffer[4096];
    return real_fn(redirect_path(path, buffer), st);
}

int lstat64(const char* path, struct stat64* st) noexcept {
    if (names_device_node(AT_FDCWD, path, 0)) {
        return device_node_stat(st);
    }
    static const auto real_fn = real::next<int (*)(const char*, struct stat64*)>("lstat64");
    if (real_fn == nullptr) {
        return real::missing();
    }
    char buffer[4096];
    return real_fn(redirect_path(path, buffer), st);
}

int fstat(int fd, struct stat* st) noexcept {
    if (is_device_descriptor(fd)) {
        return device_node_stat(st);
    }
    static const auto real_fn = real::next<int (*)(int, struct stat*)>("fstat");
    if (real_fn == nullptr) {
        return real::missing();
    }
    return real_fn(fd, st);
}

int fstat64(int fd, struct stat64* st) noexcept {
    if (is_device_descriptor(fd)) {
        return device_node_stat(st);
    }
    static const auto real_fn = real::next<int (*)(int, struct stat64*)>("fstat64");
    if (real_fn == nullptr) {
        return real::missing();
    }
    return real_fn(fd, st);
}

int fstatat(int dirfd, const char* path, struct stat* st, int flags) noexcept {
    if (names_device_node(dirfd, path, flags)) {
        return device_node_stat(st);
    }
    static const auto real_fn = real::next<int (*)(int, const char*, struct stat*, int)>("fstatat");
    if (real_fn == nullptr) {
        return real::missing();
    }
    char buffer[4096];
    return real_fn(dirfd, redirect_path(path, buffer), st, flags);
}

int fstatat64(int dirfd, const char* path, struct stat64* st, int flags) noexcept {
    if (names_device_node(dirfd, path, flags)) {
        return device_node_stat(st);
    }
    static const auto real_fn =
        real::next<int (*)(int, const char*, struct stat64*, int)>("fstatat64");
    if (real_fn == nullptr) {
        return real::missing();
    }
    char buffer[4096];
    return real_fn(dirfd, redirect_path(path, buffer), st, flags);
}

int statx(int dirfd, const char* path, int flags, unsigned mask, struct statx* stx) noexcept {
    if (names_device_node(dirfd, path, flags)) {
        struct statx st {};
        st.stx_mask = STATX_TYPE | STATX_MODE | STATX_NLINK;
        st.stx_mode = S_IFCHR | 0660;
        st.stx_nlink = 1;
        st.stx_blksize = 4096;
        st.stx_rdev_major = kDeviceMajor;
        st.stx_rdev_minor = kDeviceMinor;
        if (!copy_to_user(stx, &st, sizeof st)) {
            errno = EFAULT;
            return -1;
        }
        return 0;
    }
    static const auto real_fn =
        real::next<int (*)(int, const char*, int, unsigned, struct statx*)>("statx");
    if (real_fn == nullptr) {
        return real::missing();
    }
    char buffer[4096];
    return real_fn(dirfd, redirect_path(path, buffer), flags, mask, stx);
}

// The forms with a version argument that programs built against older C
// libraries still call.
int __xstat(int version, const char* path, struct stat* st) {
    if (names_device_node(AT_FDCWD, path, 0)) {
        return device_node_stat(st);
    }
    static const auto real_fn = real::next<int (*)(int, const char*, struct stat*)>("__xstat");
    if (real_fn == nullptr) {
        return real::missing();
    }
    char buffer[4096];
    return real_fn(version, redirect_path(path, buffer), st);
}

int __xstat64(int version, const char* path, struct stat64* st) {
    if (names_device_node(AT_FDCWD, path, 0)) {
        return device_node_stat(st);
    }
    static const auto real_fn = real::next<int (*)(int, const char*, struct stat64*)>("__xstat64");
    if (real_fn == nullptr) {
        return real::missing();
    }
    char buffer[4096];
    return real_fn(version, redirect_path(path, buffer), st);
}

int __lxstat(int version, const char* path, struct stat* st) {
    if (names_device_node(AT_FDCWD, path, 0)) {
        return device_node_stat(st);
    }
    static const auto real_fn = real::next<int (*)(int, const char*, struct stat*)>("__lxstat");
    if (real_fn == nullptr) {
        return real::missing();
    }
    char buffer[4096];
    return real_fn(version, redirect_path(path, buffer), st);
}

int __lxstat64(int version, const char* path, struct stat64* st) {
    if (names_device_node(AT_FDCWD, path, 0)) {
        return device_node_stat(st);
    }
    static const auto real_fn = real::next<int (*)(int, const char*, struct stat64*)>("__lxstat64");
    if (real_fn == nullptr) {
        return real::missing();
    }
    char buffer[4096];
    return real_fn(version, redirect_path(path, buffer), st);
}

int __fxstat(int version, int fd, struct stat* st) {
    if (is_device_descriptor(fd)) {
        return device_node_stat(st);
    }
    static const auto real_fn = real::next<int (*)(int, int, struct stat*)>("__fxstat");
    if (real_fn == nullptr) {
        return real::missing();
    }
    return real_fn(version, fd, st);
}

int __fxstat64(int version, int fd, struct stat64* st) {
    if (is_device_descriptor(fd)) {
        return device_node_stat(st);
    }
    static const auto real_fn = real::next<int (*)(int, int, struct stat64*)>("__fxstat64");
    if (real_fn == nullptr) {
        return real::missing();
    }
    return real_fn(version, fd, st);
}

int __fxstatat(int version, int dirfd, const char* path, struct stat* st, int flags) {
    if (names_device_node(dirfd, path, flags)) {
        return device_node_stat(st);
    }
    static const auto real_fn =
        real::next<int (*)(int, int, const char*, struct stat*, int)>("__fxstatat");
    if (real_fn == nullptr) {
        return real::missing();
    }
    char buffer[4096];
    return real_fn(version, dirfd, redirect_path(path, buffer), st, flags);
}

int __fxstatat64(int version, int dirfd, const char* path, struct stat64* st, int flags) {
    if (names_device_node(dirfd, path, flags)) {
        return device_node_stat(st);
    }
    static const auto real_fn =
        real::next<int (*)(int, int, const char*, struct stat64*, int)>("__fxstatat64");
    if (real_fn == nullptr) {
        return real::missing();
    }
    char buffer[4096];
    return real_fn(version, dirfd, redirect_path(path, buffer), st, flags);
}

}  // extern "C"
