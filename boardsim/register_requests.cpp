// SPDX-License-Identifier: MIT
#include "register_requests.h"

#include <cerrno>
#include <cstdint>

#include "board_abi.h"
#include "sensor_model.h"
#include "settings.h"
#include "trace.h"

namespace boardsim {

namespace {

// A read that the driver serves puts the value in the record; with
// BOARDSIM_REG_NOVALUE it leaves the record as it came.
int dbg_get(abi::dbg_register* r) {
    if (get_settings().dbg_errno != 0) {
        return -get_settings().dbg_errno;
    }
    uint16_t value = 0;
    const int result = sensor_read(static_cast<unsigned>(r->reg), &value);
    if (result == 0 && !get_settings().reads_leave_value) {
        r->val = value;
    }
    return result;
}

int dbg_set(const abi::dbg_register* r) {
    if (get_settings().dbg_errno != 0) {
        return -get_settings().dbg_errno;
    }
    return sensor_write(static_cast<unsigned>(r->reg), static_cast<uint16_t>(r->val));
}

int cam_get(abi::cam_sensor_reg* r) {
    if (get_settings().priv_errno != 0) {
        return -get_settings().priv_errno;
    }
    uint16_t value = 0;
    const int result = sensor_read(r->reg, &value);
    if (result == 0 && !get_settings().reads_leave_value) {
        r->val_lo = static_cast<uint8_t>(value);
        r->val_hi = static_cast<uint8_t>(value >> 8);
    }
    return result;
}

int cam_set(const abi::cam_sensor_reg* r) {
    if (get_settings().priv_errno != 0) {
        return -get_settings().priv_errno;
    }
    return sensor_write(r->reg, static_cast<uint16_t>(r->val_lo | r->val_hi << 8));
}

// The trace shows a read's value in place of its result.
int serve_dbg_get(abi::dbg_register* r) {
    const int result = dbg_get(r);
    const auto reg = static_cast<unsigned long long>(r->reg);
    if (result == 0) {
        trace("VIDIOC_DBG_G_REGISTER reg=0x%02llX = 0x%04llX", reg,
              static_cast<unsigned long long>(r->val & 0xFFFF));
    } else {
        char result_buf[24];
        trace("VIDIOC_DBG_G_REGISTER reg=0x%02llX = %s", reg, result_text(result, result_buf));
    }
    return result;
}

int serve_cam_get(abi::cam_sensor_reg* r) {
    const int result = cam_get(r);
    if (result == 0) {
        trace("VIDIOC_G_CAM_SENSOR_REG reg=0x%02X = 0x%02X%02X", r->reg, r->val_hi, r->val_lo);
    } else {
        char result_buf[24];
        trace("VIDIOC_G_CAM_SENSOR_REG reg=0x%02X = %s", r->reg, result_text(result, result_buf));
    }
    return result;
}

}  // namespace

bool is_register_request(unsigned long request) {
    return request == abi::DBG_G_REGISTER || request == abi::DBG_S_REGISTER ||
           request == abi::G_CAM_SENSOR_REG || request == abi::S_CAM_SENSOR_REG;
}

int register_ioctl(unsigned long request, void* arg) {
    char result_buf[24];
    switch (request) {
        case abi::DBG_G_REGISTER:
            return serve_dbg_get(static_cast<abi::dbg_register*>(arg));
        case abi::DBG_S_REGISTER: {
            const auto* r = static_cast<const abi::dbg_register*>(arg);
            const int result = dbg_set(r);
            trace("VIDIOC_DBG_S_REGISTER reg=0x%02llX val=0x%04llX = %s",
                  static_cast<unsigned long long>(r->reg), static_cast<unsigned long long>(r->val),
                  result_text(result, result_buf));
            return result;
        }
        case abi::G_CAM_SENSOR_REG:
            return serve_cam_get(static_cast<abi::cam_sensor_reg*>(arg));
        case abi::S_CAM_SENSOR_REG: {
            const auto* r = static_cast<const abi::cam_sensor_reg*>(arg);
            const int result = cam_set(r);
            trace("VIDIOC_S_CAM_SENSOR_REG reg=0x%02X val=0x%02X%02X = %s", r->reg, r->val_hi,
                  r->val_lo, result_text(result, result_buf));
            return result;
        }
        default:
            return -ENOTTY;
    }
}

}  // namespace boardsim
