// Register access to the MT9D131 image sensor behind the board's V4L2 capture
// driver, and the request wrappers every program uses on that device.
//
// Every failure is fatal: the functions report through error() and end the
// program with status 1, so a caller never sees a failed access.
#pragma once

#include <cstdint>

#include "v4l2_requests.h"

inline constexpr const char* SENSOR_DEVICE_PATH = "/dev/v4l/video0";

inline constexpr uint8_t MT9D131_REG_PAGE = 0xF0;
inline constexpr uint8_t MT9D131_REG_VAR_ADDRESS = 0xC6;
inline constexpr uint8_t MT9D131_REG_VAR_DATA = 0xC8;
inline constexpr uint8_t MT9D131_VAR_PAGE = 1;

// How the driver exposes the sensor's registers; decided once per process by
// the first register access.
enum reg_access : int {
    REG_ACCESS_UNKNOWN = 0,
    REG_ACCESS_DBG = 1,
    REG_ACCESS_CAM_SENSOR = 2,
};
extern int reg_access_method;

// Opens the capture device read-write with extra open flags.
int sensor_device_open(int extra_flags);

// ioctl(), repeated while it fails with EAGAIN or EINTR; errno as the last
// call left it.
int xioctl(int fd, unsigned long request, void* arg);
// xioctl() that ends the program with the request's name on failure.
int xioctl_checked(const char* name, int fd, unsigned long request, void* arg);

void mt9d131_probe_access(int fd);

uint16_t mt9d131_reg_read(int fd, uint8_t reg);
int mt9d131_reg_write(int fd, uint8_t reg, uint16_t value);
int mt9d131_set_page(int fd, uint8_t page);
uint16_t mt9d131_page_reg_read(int fd, uint8_t page, uint8_t reg);
int mt9d131_page_reg_write(int fd, uint8_t page, uint8_t reg, uint16_t value);

// Firmware variables: logical (driver id and offset) and physical (address).
void mt9d131_log_var_check_args(uint8_t id, uint8_t width, uint16_t value);
void mt9d131_phys_var_check_args(uint16_t address, uint8_t width, uint16_t value);
uint16_t mt9d131_log_var_address(uint8_t id, uint8_t offset, uint8_t width);
uint16_t mt9d131_phys_var_address(uint16_t address, uint8_t width);
uint16_t mt9d131_log_var_read(int fd, uint8_t id, uint8_t offset, uint8_t width);
int mt9d131_log_var_write(int fd, uint8_t id, uint8_t offset, uint8_t width, uint16_t value);
uint16_t mt9d131_phys_var_read(int fd, uint16_t address, uint8_t width);
int mt9d131_phys_var_write(int fd, uint16_t address, uint8_t width, uint16_t value);

// Writes the low `bits` bits of `value` as '0'/'1' text into `out`, most
// significant first, with `separator` (unless NUL) between groups of four
// counted from the least significant bit. Returns `value`.
// `out` must hold bits + (bits - 1) / 4 + 1 characters.
uint16_t format_bits(uint16_t value, unsigned bits, char separator, char* out);
