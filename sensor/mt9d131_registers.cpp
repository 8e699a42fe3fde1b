// SPDX-License-Identifier: MIT
// MT9D131 register access through whichever register requests the driver
// offers: the V4L2 debug requests if they work, else the driver's own.
#include "mt9d131_registers.h"

#include <error.h>

#include <cerrno>

#include "reg_access.h"
#include "sensor_device.h"
#include "v4l2_requests.h"

using enum reg_access;

reg_access reg_access_method = REG_ACCESS_UNKNOWN;

void mt9d131_probe_access(int fd) {
    dbg_register_record dbg{};
    const int dbg_error = xioctl(fd, VIDIOC_DBG_G_REGISTER, &dbg) < 0 ? errno : 0;

    // The private request is tried even when the debug one worked, so that a
    // trace of the probe always looks the same.
    cam_sensor_reg_record cam{};
    const int cam_error = xioctl(fd, VIDIOC_G_CAM_SENSOR_REG, &cam) < 0 ? errno : 0;

    if (dbg_error != 0 && cam_error != 0) {
        error(1, cam_error, "Neither VIDIOC_DBG_G_REGISTER nor VIDIOC_G_CAM_SENSOR_REG work");
    }
    reg_access_method = dbg_error == 0 ? REG_ACCESS_DBG : REG_ACCESS_CAM_SENSOR;
}

static void probe_once(int fd) {
    if (reg_access_method == REG_ACCESS_UNKNOWN) {
        mt9d131_probe_access(fd);
    }
}

uint16_t mt9d131_reg_read(int fd, uint8_t reg) {
    probe_once(fd);
    if (reg_access_method == REG_ACCESS_DBG) {
        dbg_register_record record{};
        record.reg = reg;
        record.val = ~UINT64_C(0);  // a driver that returns nothing reads as 0xFFFF
        xioctl_checked("VIDIOC_DBG_G_REGISTER", fd, VIDIOC_DBG_G_REGISTER, &record);
        return static_cast<uint16_t>(record.val);
    }
    cam_sensor_reg_record record{};
    record.reg = reg;
    record.value_low = 0xFF;
    record.value_high = 0xFF;
    xioctl_checked("VIDIOC_G_CAM_SENSOR_REG", fd, VIDIOC_G_CAM_SENSOR_REG, &record);
    return static_cast<uint16_t>(record.value_low | record.value_high << 8);
}

int mt9d131_reg_write(int fd, uint8_t reg, uint16_t value) {
    probe_once(fd);
    if (reg_access_method == REG_ACCESS_DBG) {
        dbg_register_record record{};
        record.reg = reg;
        record.val = value;
        return xioctl_checked("VIDIOC_DBG_S_REGISTER", fd, VIDIOC_DBG_S_REGISTER, &record);
    }
    cam_sensor_reg_record record{};
    record.reg = reg;
    record.value_low = static_cast<uint8_t>(value & 0xFF);
    record.value_high = static_cast<uint8_t>(value >> 8);
    return xioctl_checked("VIDIOC_S_CAM_SENSOR_REG", fd, VIDIOC_S_CAM_SENSOR_REG, &record);
}

// The current page is deliberately not remembered: another process may have
// switched it since, so every paged access selects its page again.
int mt9d131_set_page(int fd, uint8_t page) {
    return mt9d131_reg_write(fd, MT9D131_REG_PAGE, page);
}

uint16_t mt9d131_page_reg_read(int fd, uint8_t page, uint8_t reg) {
    mt9d131_set_page(fd, page);
    return mt9d131_reg_read(fd, reg);
}

int mt9d131_page_reg_write(int fd, uint8_t page, uint8_t reg, uint16_t value) {
    mt9d131_set_page(fd, page);
    return mt9d131_reg_write(fd, reg, value);
}
