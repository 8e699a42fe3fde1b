// The board driver's request numbers and records as the simulator decodes
// them: the 32-bit ARM ABI, whatever the host. Kept apart from the programs'
// own definitions on purpose, so that one mistake cannot hide on both sides.
#pragma once

#include <cstdint>

namespace boardsim::abi {

constexpr unsigned long ioc(unsigned dir, unsigned nr, unsigned size) {
    return (static_cast<unsigned long>(dir) << 30) | (static_cast<unsigned long>(size) << 16) |
           (0x56UL << 8) | nr;
}
constexpr unsigned kW = 1, kR = 2, kRW = 3;

constexpr unsigned long QUERYCAP = ioc(kR, 0, 104);
constexpr unsigned long DBG_S_REGISTER = ioc(kW, 79, 24);
constexpr unsigned long DBG_G_REGISTER = ioc(kRW, 80, 24);
constexpr unsigned long G_CAM_SENSOR_REG = ioc(kRW, 84, 8);
constexpr unsigned long S_CAM_SENSOR_REG = ioc(kW, 85, 8);

struct capability {  // 104 bytes
    char driver[16];
    char card[32];
    char bus_info[32];
    uint32_t version;
    uint32_t capabilities;
    uint32_t device_caps;
    uint32_t reserved[3];
};
static_assert(sizeof(capability) == 104);

struct dbg_register {  // the original 24-byte debug register record
    uint32_t match_type;
    uint32_t match_chip;
    uint64_t reg;
    uint64_t val;
};
static_assert(sizeof(dbg_register) == 24);

struct cam_sensor_reg {  // the driver's private record: value as two bytes
    uint32_t reg;
    uint8_t val_lo;
    uint8_t val_hi;
    uint8_t reserved[2];
};
static_assert(sizeof(cam_sensor_reg) == 8);

}  // namespace boardsim::abi
