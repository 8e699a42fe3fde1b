// The simulated capture driver on /dev/v4l/video0.
#pragma once

namespace boardsim {

inline constexpr const char* kDevicePath = "/dev/v4l/video0";

// Opens the device as the driver would; a descriptor or a negative error number.
int device_open(int flags);
bool is_device(int fd);
int device_close(int fd);
// Serves one request; 0 or more on success, a negative error number on failure.
int device_ioctl(int fd, unsigned long request, void* arg);

}  // namespace boardsim
