// SPDX-License-Identifier: MIT
// sensdump: prints all 256 registers of one MT9D131 register page.
#include <error.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "board_number.h"
#include "camboard_version.h"
#include "format_bits.h"
#include "mt9d131_registers.h"
#include "sensor_device.h"

int main(int argc, char* argv[]) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        print_camboard_version("sensdump");
        return 0;
    }
    // Anything but a page number (--help, a typo) gets the usage, before the
    // device is touched.
    int32_t number = 0;
    if (argc != 2 || !board_number_word(argv[1], &number)) {
        std::fprintf(stderr, "Usage: %s page\n", argc > 0 ? argv[0] : "sensdump");
        return 1;
    }
    const auto page = static_cast<uint32_t>(number);
    if (page > 2) {
        error(1, 0, "Wrong page %u\n", page);
    }

    const int fd = sensor_device_open(0);
    // Selected once: the dump reads the page as it stands, register by register.
    mt9d131_set_page(fd, static_cast<uint8_t>(page));
    for (unsigned reg = 0; reg < 256; ++reg) {
        char bits[22];
        const uint16_t value =
            format_bits(mt9d131_reg_read(fd, static_cast<uint8_t>(reg)), 16, ',', bits);
        std::printf("0x%02X: %5u 0x%04X %s\n", reg, unsigned{value}, unsigned{value}, bits);
    }
    close(fd);
    return 0;
}
