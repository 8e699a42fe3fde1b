// SPDX-License-Identifier: MIT
// The simulated capture driver on /dev/v4l/video0.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>

struct pollfd;

namespace boardsim {

inline constexpr const char* kDevicePath = "/dev/v4l/video0";

// Opens the device as the driver would; a descriptor or a negative error number.
int device_open(int flags);
bool is_device(int fd);
int device_close(int fd);
// Descriptor `fd` of the device goes away without a close() of ours (dup2
// onto it): its open file is released with its last descriptor.
void device_descriptor_dropped(int fd);
// Serves one request; 0 or more on success, a negative error number on failure.
int device_ioctl(int fd, unsigned long request, void* arg);
// mmap() of a stream buffer; MAP_FAILED with errno set on failure.
void* device_mmap(void* addr, size_t length, int prot, int flags, off_t offset);
// poll() of the device alone; the count of ready descriptors or a negative error number.
int device_poll(pollfd* fds, int timeout_ms);

}  // namespace boardsim
