// SPDX-License-Identifier: MIT
#include "sensor_model.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "real_libc.h"
#include "settings.h"

namespace boardsim {

namespace {

constexpr unsigned kPageReg = 0xF0;
constexpr unsigned kVarAddress = 0xC6;
constexpr unsigned kVarData = 0xC8;

struct reset_value {
    unsigned page, reg;
    uint16_t value;
};

// A few of the sensor's power-on values, so that a dump looks like a sensor.
constexpr reset_value kResetValues[] = {
    {0, 0x01, 0x001C}, {0, 0x02, 0x003C}, {0, 0x03, 0x04B0}, {0, 0x04, 0x0640}, {0, 0x05, 0x0204},
    {0, 0x06, 0x002F}, {0, 0x07, 0x00FE}, {0, 0x08, 0x0007}, {0, 0x09, 0x04D0}, {0, 0x20, 0x0300},
    {0, 0x21, 0x8400}, {0, 0x2B, 0x0020}, {0, 0x2C, 0x0020}, {0, 0x2D, 0x0020}, {0, 0x2E, 0x0020},
    {1, 0x08, 0x01F8}, {1, 0x25, 0x0045}, {2, 0x2E, 0x0C40}, {2, 0x59, 0x0000},
};

void reset(sensor_state* s) {
    std::memset(s, 0, sizeof *s);
    std::memcpy(s->magic, "MT9D131", 8);
    for (const auto& r : kResetValues) {
        s->regs[r.page][r.reg] = r.value;
    }
    s->regs[0][0] = get_settings().chip_version;
}

// The state file, mapped shared: every write lands in the file at once.
sensor_state* state() {
    static sensor_state* const mapped = []() -> sensor_state* {
        const std::string path = get_settings().dir + "/mt9d131.state";
        bool fresh = false;
        int fd = real::open(path.c_str(), O_RDWR | O_CLOEXEC, 0);
        if (fd < 0) {
            fd = real::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            fresh = fd >= 0;
        }
        if (fd < 0 || ftruncate(fd, sizeof(sensor_state)) != 0) {
            return nullptr;
        }
        void* p =
            real::mmap(nullptr, sizeof(sensor_state), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        real::close(fd);
        if (p == MAP_FAILED) {
            return nullptr;
        }
        auto* s = static_cast<sensor_state*>(p);
        if (fresh || std::memcmp(s->magic, "MT9D131", 8) != 0) {
            reset(s);
        }
        return s;
    }();
    return mapped;
}

// Where a firmware variable lives, from its address word.
struct variable {
    uint8_t* block;
    unsigned size;
    unsigned offset;
    bool byte;
};

variable decode(sensor_state* s, uint16_t word) {
    const bool byte = (word & 0x8000) != 0;
    if ((word & 0x2000) != 0) {
        return {s->logical[(word >> 8) & 0x1F], 256, word & 0xFFU, byte};
    }
    return {s->phys, sizeof s->phys, word & 0x1FFFU, byte};
}

// 16-bit variables are stored high byte first, as the microcontroller keeps them.
uint16_t variable_read(sensor_state* s) {
    const variable v = decode(s, s->var_address);
    if (v.byte) {
        return v.block[v.offset];
    }
    return static_cast<uint16_t>(v.block[v.offset] << 8 | v.block[(v.offset + 1) % v.size]);
}

void variable_write(sensor_state* s, uint16_t value) {
    const variable v = decode(s, s->var_address);
    if (v.byte) {
        v.block[v.offset] = static_cast<uint8_t>(value);
        return;
    }
    v.block[v.offset] = static_cast<uint8_t>(value >> 8);
    v.block[(v.offset + 1) % v.size] = static_cast<uint8_t>(value);
}

}  // namespace

int sensor_read(unsigned reg, uint16_t* value) {
    sensor_state* s = state();
    if (s == nullptr || reg > 0xFF) {
        return -EIO;
    }
    const auto& fault = get_settings().read_fault;
    if (fault.active && fault.page == s->page && fault.reg == reg) {
        return -fault.error;
    }
    if (reg == kPageReg) {
        *value = s->page;
    } else if (s->page == 1 && reg == kVarAddress) {
        *value = s->var_address;
    } else if (s->page == 1 && reg == kVarData) {
        *value = variable_read(s);
    } else {
        *value = s->regs[s->page][reg];
    }
    return 0;
}

int sensor_write(unsigned reg, uint16_t value) {
    sensor_state* s = state();
    if (s == nullptr || reg > 0xFF) {
        return -EIO;
    }
    if (reg == kPageReg) {
        if (value > 2) {
            return -EINVAL;  // the sensor has three pages
        }
        s->page = value;
    } else if (s->page == 1 && reg == kVarAddress) {
        s->var_address = value;
    } else if (s->page == 1 && reg == kVarData) {
        variable_write(s, value);
    } else {
        s->regs[s->page][reg] = value;
    }
    return 0;
}

}  // namespace boardsim
