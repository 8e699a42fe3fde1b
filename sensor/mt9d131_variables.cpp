// SPDX-License-Identifier: MIT
// The sensor microcontroller's firmware variables, reached indirectly: the
// variable's address word goes to page-1 register 0xC6, its data is then read
// from or written to page-1 register 0xC8.
#include "mt9d131_variables.h"

#include <error.h>

#include "mt9d131_registers.h"

namespace {

constexpr uint16_t kLogicalAccess = 0x2000;
constexpr uint16_t kByteAccess = 0x8000;
constexpr uint16_t kPhysicalLimit = 0x2000;

// Widths and values are checked the same way for both kinds of variable.
void check_width_and_value(const char* function, uint8_t width, uint16_t value) {
    if (width != 8 && width != 16) {
        error(1, 0, "%s(): Wrong width (!8 && !16): %u", function, unsigned{width});
    }
    if (width == 8 && value > 255) {
        error(1, 0, "%s(): Wrong value (> 255): %u", function, unsigned{value});
    }
}

uint16_t var_read(int fd, uint16_t address_word) {
    mt9d131_page_reg_write(fd, MT9D131_VAR_PAGE, MT9D131_REG_VAR_ADDRESS, address_word);
    return mt9d131_page_reg_read(fd, MT9D131_VAR_PAGE, MT9D131_REG_VAR_DATA);
}

int var_write(int fd, uint16_t address_word, uint16_t value) {
    mt9d131_page_reg_write(fd, MT9D131_VAR_PAGE, MT9D131_REG_VAR_ADDRESS, address_word);
    return mt9d131_page_reg_write(fd, MT9D131_VAR_PAGE, MT9D131_REG_VAR_DATA, value);
}

}  // namespace

void mt9d131_log_var_check_args(uint8_t id, uint8_t width, uint16_t value) {
    if (id > 31) {
        error(1, 0, "%s(): Wrong id (> 31): %u", __func__, unsigned{id});
    }
    check_width_and_value(__func__, width, value);
}

void mt9d131_phys_var_check_args(uint16_t address, uint8_t width, uint16_t value) {
    if (address >= kPhysicalLimit) {
        error(1, 0, "%s(): Wrong address (> 0x1fff): %u", __func__, unsigned{address});
    }
    check_width_and_value(__func__, width, value);
}

uint16_t mt9d131_log_var_address(uint8_t id, uint8_t offset, uint8_t width) {
    auto word = static_cast<uint16_t>(((id << 8) & 0xFF00) | (offset & 0xFF) | kLogicalAccess);
    if (width == 8) {
        word |= kByteAccess;
    }
    return word;
}

uint16_t mt9d131_phys_var_address(uint16_t address, uint8_t width) {
    return width == 8 ? static_cast<uint16_t>(address | kByteAccess) : address;
}

uint16_t mt9d131_log_var_read(int fd, uint8_t id, uint8_t offset, uint8_t width) {
    mt9d131_log_var_check_args(id, width, 0);
    return var_read(fd, mt9d131_log_var_address(id, offset, width));
}

int mt9d131_log_var_write(int fd, uint8_t id, uint8_t offset, uint8_t width, uint16_t value) {
    mt9d131_log_var_check_args(id, width, value);
    return var_write(fd, mt9d131_log_var_address(id, offset, width), value);
}

uint16_t mt9d131_phys_var_read(int fd, uint16_t address, uint8_t width) {
    mt9d131_phys_var_check_args(address, width, 0);
    return var_read(fd, mt9d131_phys_var_address(address, width));
}

int mt9d131_phys_var_write(int fd, uint16_t address, uint8_t width, uint16_t value) {
    mt9d131_phys_var_check_args(address, width, value);
    return var_write(fd, mt9d131_phys_var_address(address, width), value);
}
