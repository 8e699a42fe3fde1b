// SPDX-License-Identifier: MIT
// The firmware variables of the MT9D131's microcontroller: logical ones (a
// driver id and an offset) and physical ones (an address), 8 or 16 bits wide,
// reached through an address word and a data register on page 1.
//
// Every failure is fatal: the functions report through error() and end the
// program with status 1, before any request of an access whose arguments
// fail their check.
#pragma once

#include <cstdint>

inline constexpr uint8_t MT9D131_VAR_PAGE = 1;
inline constexpr uint8_t MT9D131_REG_VAR_ADDRESS = 0xC6;
inline constexpr uint8_t MT9D131_REG_VAR_DATA = 0xC8;

// Return only if the arguments are valid.
void mt9d131_log_var_check_args(uint8_t id, uint8_t width, uint16_t value);
void mt9d131_phys_var_check_args(uint16_t address, uint8_t width, uint16_t value);

// The variable-address words that select a variable.
uint16_t mt9d131_log_var_address(uint8_t id, uint8_t offset, uint8_t width);
uint16_t mt9d131_phys_var_address(uint16_t address, uint8_t width);

uint16_t mt9d131_log_var_read(int fd, uint8_t id, uint8_t offset, uint8_t width);
int mt9d131_log_var_write(int fd, uint8_t id, uint8_t offset, uint8_t width, uint16_t value);
uint16_t mt9d131_phys_var_read(int fd, uint16_t address, uint8_t width);
int mt9d131_phys_var_write(int fd, uint16_t address, uint8_t width, uint16_t value);
