// SPDX-License-Identifier: MIT
// What the stat family shows of /dev/v4l/video0: a V4L2 character device
// (major 81, minor 0), whatever record layout the caller's stat form uses.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstring>

#include "preload_paths.h"
#include "user_memory.h"
#include "v4l2_device.h"

namespace boardsim {

inline constexpr unsigned kDeviceMajor = 81;
inline constexpr unsigned kDeviceMinor = 0;

// The node by its path, or (with AT_EMPTY_PATH and an empty path) an open
// descriptor of the device.
inline bool names_device_node(int dirfd, const char* path, int flags) {
    if (!simulator_active() || path == nullptr) {
        return false;
    }
    if (std::strcmp(path, kDevicePath) == 0) {
        return true;
    }
    return (flags & AT_EMPTY_PATH) != 0 && path[0] == '\0' && is_device(dirfd);
}

inline bool is_device_descriptor(int fd) {
    return simulator_active() && is_device(fd);
}

// Fills the caller's record as the kernel would: 0, or -1 with EFAULT.
template <typename Stat>
int device_node_stat(Stat* user) {
    Stat st;
    std::memset(&st, 0, sizeof st);
    st.st_mode = S_IFCHR | 0660;
    st.st_rdev = makedev(kDeviceMajor, kDeviceMinor);
    st.st_nlink = 1;
    st.st_blksize = 4096;
    if (!copy_to_user(user, &st, sizeof st)) {
        errno = EFAULT;
        return -1;
    }
    return 0;
}

}  // namespace boardsim
