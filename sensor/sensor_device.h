// SPDX-License-Identifier: MIT
// Opening the board's capture device and the request funnel every program
// uses on it.
//
// Every failure of sensor_device_open() and xioctl_checked() is fatal: they
// report through error() and end the program with status 1.
#pragma once

inline constexpr const char* SENSOR_DEVICE_PATH = "/dev/v4l/video0";

// Opens the capture device read-write with extra open flags.
int sensor_device_open(int extra_flags);
// The same for the capture device at `path`.
int sensor_device_open_path(const char* path, int extra_flags);

// ioctl(), repeated while it fails with EAGAIN or EINTR; errno as the last
// call left it.
int xioctl(int fd, unsigned long request, void* arg);
// xioctl() that ends the program with the request's name on failure.
int xioctl_checked(const char* name, int fd, unsigned long request, void* arg);
