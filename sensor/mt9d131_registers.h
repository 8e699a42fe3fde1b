// SPDX-License-Identifier: MIT
// The MT9D131's 16-bit registers, numbered 0 to 255 within each of its
// pages, reached through the capture driver's register requests.
//
// Every failure is fatal: the functions report through error() and end the
// program with status 1, so a caller never sees a failed access.
#pragma once

#include <cstdint>

// Selects the page that later register numbers refer to, on every page.
inline constexpr uint8_t MT9D131_REG_PAGE = 0xF0;

// Decides once per process whether the driver's debug or its private register
// requests reach the sensor; the first register access calls it.
void mt9d131_probe_access(int fd);

// Registers of the page selected last.
uint16_t mt9d131_reg_read(int fd, uint8_t reg);
int mt9d131_reg_write(int fd, uint8_t reg, uint16_t value);

int mt9d131_set_page(int fd, uint8_t page);
// The page is selected again before each access.
uint16_t mt9d131_page_reg_read(int fd, uint8_t page, uint8_t reg);
int mt9d131_page_reg_write(int fd, uint8_t page, uint8_t reg, uint16_t value);
