// SPDX-License-Identifier: MIT
// Opening the capture device and the request wrappers around ioctl().
#include "sensor_device.h"

#include <error.h>
#include <fcntl.h>
#include <sys/ioctl.h>

#include <cerrno>

int sensor_device_open(int extra_flags) {
    return sensor_device_open_path(SENSOR_DEVICE_PATH, extra_flags);
}

int sensor_device_open_path(const char* path, int extra_flags) {
    int fd = open(path, O_RDWR | extra_flags);
    // The kernel refuses O_NOATIME to anyone but the node's owner, although a
    // member of the device's group may open it; access time is no reason to
    // refuse the access.
    if (fd < 0 && errno == EPERM && (extra_flags & O_NOATIME) != 0) {
        fd = open(path, O_RDWR | (extra_flags & ~O_NOATIME));
    }
    if (fd < 0) {
        error(1, errno, "Can't open device %s", path);
    }
    return fd;
}

int xioctl(int fd, unsigned long request, void* arg) {
    int result;
    do {
        result = ioctl(fd, request, arg);
    } while (result < 0 && (errno == EAGAIN || errno == EINTR));
    return result;
}

int xioctl_checked(const char* name, int fd, unsigned long request, void* arg) {
    const int result = xioctl(fd, request, arg);
    if (result < 0) {
        error(1, errno, "%s", name);
    }
    return result;
}
