// SPDX-License-Identifier: MIT
// sensreg: reads or writes one MT9D131 register, physical firmware variable or
// logical firmware variable, whole or as an msb:lsb bit field.
#include <error.h>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bit_field.h"
#include "board_number.h"
#include "camboard_version.h"
#include "format_bits.h"
#include "mt9d131_registers.h"
#include "mt9d131_variables.h"
#include "sensor_device.h"

namespace {

enum access_mode { ACCESS_REG = 0, ACCESS_PHYS = 1, ACCESS_LOG = 2 };

struct sensreg_settings {
    bool print_dec = false;
    bool print_hex = false;
    bool print_bits = false;
    access_mode mode = ACCESS_REG;
    uint8_t page = 0;
    uint8_t width = 16;
    uint32_t address = 0;
    uint8_t id = 0;
    bool has_field = false;
    bit_field field{-1, -1};
    bool has_value = false;
    uint16_t value = 0;
    const char* value_word = nullptr;  // as given, for the refusal of a value too wide
};

[[noreturn]] void usage(const char* name) {
    std::fprintf(stderr,
                 "Usage:\n"
                 "\t%s [-dec] [-hex] [-bin] 'reg'           page addr    [msb:lsb] [value] |\n"
                 "\t%s [-dec] [-hex] [-bin] 'phys' b[yte]|w[ord] addr    [msb:lsb] [value] |\n"
                 "\t%s [-dec] [-hex] [-bin] 'log'  b[yte]|w[ord] id offs [msb:lsb] [value]\n",
                 name, name, name);
    std::exit(1);
}

bool take_output_word(const char* word, sensreg_settings* settings) {
    if (std::strcmp(word, "-dec") == 0) {
        settings->print_dec = true;
    } else if (std::strcmp(word, "-hex") == 0) {
        settings->print_hex = true;
    } else if (std::strcmp(word, "-bin") == 0) {
        settings->print_bits = true;
    } else {
        return false;
    }
    return true;
}

// Where the words of a mode stand, counted from the mode word (which is word
// 0); 0 marks a word the mode does not have. The optional bit field word
// follows the fixed words, the optional value follows the field word if there
// is one, else it takes the field word's place.
struct word_layout {
    const char* mode_word;  // compared case-insensitively
    access_mode mode;
    int fixed_words;  // after the mode word
    int page_at;      // none: the mode has no page word
    int width_at;     // none: the access is 16 bits wide
    int id_at;        // none: id 0
    int address_at;   // register number, physical address or logical offset
    uint32_t address_max;
};

constexpr word_layout kLayouts[] = {
    // mode word, mode, fixed words, page, width, id, address, highest address
    {"reg", ACCESS_REG, 2, 1, 0, 0, 2, 255},
    // The library's own check refuses a physical address of 0x2000 or more.
    {"phys", ACCESS_PHYS, 2, 0, 1, 0, 2, UINT32_MAX},
    {"log", ACCESS_LOG, 3, 0, 1, 2, 3, 255},
};

const word_layout& layout_of(const char* word) {
    for (const word_layout& layout : kLayouts) {
        if (strcasecmp(word, layout.mode_word) == 0) {
            return layout;
        }
    }
    error(1, 0, "Unknown access mode %s", word);
    __builtin_unreachable();
}

uint8_t width_of(const char* word) {
    if (strcasecmp(word, "byte") == 0 || strcasecmp(word, "b") == 0) {
        return 8;
    }
    if (strcasecmp(word, "word") == 0 || strcasecmp(word, "w") == 0) {
        return 16;
    }
    error(1, 0, "Wrong width %s", word);
    __builtin_unreachable();
}

// A number word as the board reads it (decimal, 0x hexadecimal, 0 octal);
// a word that is not wholly a number would otherwise act as 0 on the sensor.
uint32_t number_of(const char* word) {
    int32_t number = 0;
    if (!board_number_word(word, &number)) {
        error(1, 0, "'%s' is not a number", word);
    }
    return static_cast<uint32_t>(number);
}

// The value to write, refused when it does not fit the bits it goes to: the
// field's, else the register's or variable's.
// A field's width is counted in 64 bits: its positions may be as large as
// the board's numbers go.
void check_value_width(const sensreg_settings& settings, uint32_t value) {
    const int64_t bits = settings.has_field ? int64_t{settings.field.msb} - settings.field.lsb + 1
                                            : int64_t{settings.width};
    if (bits < 32 && value >= (uint32_t{1} << bits)) {
        error(1, 0, "value %s does not fit in %d bit%s", settings.value_word,
              static_cast<int>(bits), bits == 1 ? "" : "s");
    }
}

// Up to two output words stand first; without any, all three columns print.
// Returns the position of the word after them.
int scan_output_words(char* argv[], sensreg_settings* settings) {
    int pos = 1;
    for (int examined = 0; examined < 2; ++examined) {
        if (take_output_word(argv[pos], settings)) {
            ++pos;
        }
    }
    if (!settings->print_dec && !settings->print_hex && !settings->print_bits) {
        settings->print_dec = settings->print_hex = settings->print_bits = true;
    }
    return pos;
}

// The field word, if the word at its place is one; returns the place of the
// value word.
int scan_field_word(int argc, char* argv[], int field_pos, sensreg_settings* settings) {
    const char* field_word = field_pos < argc ? argv[field_pos] : nullptr;
    switch (parse_bit_field(field_word, &settings->field)) {
        case bit_field_word::malformed:
            error(1, 0, "Wrong format for msb:lsb : '%s'", field_word);
            break;
        case bit_field_word::field:
            settings->has_field = true;
            break;
        case bit_field_word::absent:
            break;
    }
    return settings->has_field ? field_pos + 1 : field_pos;
}

// The mode's fixed words: page or width, address, id, in this order.
void scan_fixed_words(const word_layout& layout, char* words[], sensreg_settings* settings) {
    if (layout.page_at != 0) {
        const uint32_t page = number_of(words[layout.page_at]);
        if (page > 2) {
            error(1, 0, "Wrong page %u", page);
        }
        settings->page = static_cast<uint8_t>(page);
    }
    settings->width = layout.width_at != 0 ? width_of(words[layout.width_at]) : 16;
    settings->address = number_of(words[layout.address_at]);
    if (settings->address > layout.address_max) {
        error(1, 0, "Wrong register | physical address number %u", settings->address);
    }
    if (layout.id_at != 0) {
        const uint32_t id = number_of(words[layout.id_at]);
        if (id > 31) {
            error(1, 0, "Wrong logical variable id %u", id);
        }
        settings->id = static_cast<uint8_t>(id);
    }
}

// Scans the command line in the order that decides which refusal a faulty
// line gets: count, mode word, field word, page or width, address, id, value.
sensreg_settings scan_arguments(int argc, char* argv[]) {
    if (argc < 4 || argc > 10) {
        usage(argv[0]);
    }
    sensreg_settings settings;
    const int mode_pos = scan_output_words(argv, &settings);
    const word_layout& layout = layout_of(argv[mode_pos]);
    settings.mode = layout.mode;
    if (mode_pos + layout.fixed_words >= argc) {
        usage(argv[0]);  // a fixed word of the mode is missing
    }
    const int value_pos = scan_field_word(argc, argv, mode_pos + layout.fixed_words + 1, &settings);
    scan_fixed_words(layout, argv + mode_pos, &settings);
    if (value_pos < argc) {
        settings.has_value = true;
        settings.value_word = argv[value_pos];
        const uint32_t value = number_of(settings.value_word);
        check_value_width(settings, value);
        settings.value = static_cast<uint16_t>(value);
    }
    return settings;
}

uint16_t read_target(int fd, const sensreg_settings& settings) {
    switch (settings.mode) {
        case ACCESS_REG:
            return mt9d131_page_reg_read(fd, settings.page, static_cast<uint8_t>(settings.address));
        case ACCESS_PHYS:
            return mt9d131_phys_var_read(fd, static_cast<uint16_t>(settings.address),
                                         settings.width);
        case ACCESS_LOG:
            break;
    }
    return mt9d131_log_var_read(fd, settings.id, static_cast<uint8_t>(settings.address),
                                settings.width);
}

void write_target(int fd, const sensreg_settings& settings, uint16_t value) {
    switch (settings.mode) {
        case ACCESS_REG:
            mt9d131_page_reg_write(fd, settings.page, static_cast<uint8_t>(settings.address),
                                   value);
            return;
        case ACCESS_PHYS:
            mt9d131_phys_var_write(fd, static_cast<uint16_t>(settings.address), settings.width,
                                   value);
            return;
        case ACCESS_LOG:
            mt9d131_log_var_write(fd, settings.id, static_cast<uint8_t>(settings.address),
                                  settings.width, value);
            return;
    }
}

// One line of the chosen columns; their widths follow the access width.
void print_value(const sensreg_settings& settings, uint16_t value) {
    const bool byte = settings.width == 8;
    if (settings.print_dec) {
        const bool alone = !settings.print_hex && !settings.print_bits;
        std::printf(alone ? "%u" : byte ? "%3u" : "%5u", unsigned{value});
    }
    if (settings.print_hex) {
        std::printf(byte ? "%s0x%02X" : "%s0x%04X", settings.print_dec ? " " : "", unsigned{value});
    }
    if (settings.print_bits) {
        char bits[22];
        format_bits(value, settings.width, ',', bits);
        std::printf("%s%s", settings.print_dec || settings.print_hex ? " " : "", bits);
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        print_camboard_version("sensreg");
        return 0;
    }
    const sensreg_settings settings = scan_arguments(argc, argv);
    const int fd = sensor_device_open(O_NOATIME);

    if (settings.has_value) {
        uint16_t value = settings.value;
        if (settings.has_field) {  // read-modify-write of the whole register or variable
            value = insert_bit_field(read_target(fd, settings), value, settings.field);
        }
        write_target(fd, settings, value);
    } else {
        uint16_t value = read_target(fd, settings);
        if (settings.has_field) {
            value = extract_bit_field(value, settings.field);
        }
        print_value(settings, value);
    }
    close(fd);
    return 0;
}
