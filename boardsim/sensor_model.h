// SPDX-License-Identifier: MIT
// The MT9D131 behind the simulated driver: three pages of 16-bit registers,
// the page register, and the microcontroller's firmware variables behind
// page-1 registers 0xC6 (address word) and 0xC8 (data). Its state lives in
// $BOARDSIM_DIR/mt9d131.state, so that one run reads what another wrote.
#pragma once

#include <cstdint>

namespace boardsim {

// The state file's layout (little-endian), documented in boardsim/README.md.
struct sensor_state {
    char magic[8];  // "MT9D131"
    uint16_t regs[3][256];
    uint16_t page;
    uint16_t var_address;
    uint8_t phys[0x2000];
    uint8_t logical[32][256];
};
static_assert(sizeof(sensor_state) == 17932);

// Reads a register of the current page; negative error number on failure.
int sensor_read(unsigned reg, uint16_t* value);
// Writes a register of the current page; negative error number on failure.
int sensor_write(unsigned reg, uint16_t value);

}  // namespace boardsim
