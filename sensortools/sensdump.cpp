// sensdump: prints all 256 registers of one MT9D131 register page.
#include <error.h>
#include <unistd.h>

#include <cstdio>

#include "board_number.h"
#include "format_bits.h"
#include "mt9d131_registers.h"
#include "sensor_device.h"

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: %s page\n", argc > 0 ? argv[0] : "sensdump");
        return 1;
    }
    const uint32_t page = board_unsigned(argv[1]);
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
