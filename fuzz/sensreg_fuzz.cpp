// SPDX-License-Identifier: MIT
// sensreg's whole command line, one argument per input line after
// "sensreg": the words, the numbers, the bit field, and the access they lead
// to, against an in-memory sensor. sensreg.cpp is compiled in with its main
// renamed; the device is a fixed descriptor answered by the wrapped ioctl().
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "harness/exit_trap.h"
#include "harness/word_list.h"
#include "mt9d131_registers.h"
#include "mt9d131_variables.h"
#include "v4l2_requests.h"

int sensreg_main(int argc, char* argv[]);

extern "C" {
int __real_ioctl(int fd, unsigned long request, ...);
int __wrap_ioctl(int fd, unsigned long request, ...);
int __wrap__Z18sensor_device_openi(int extra_flags);
}

namespace {

// sensreg takes at most nine arguments; a few more reach the count check.
constexpr size_t kMaxWords = 12;
// Far above anything the process opens itself.
constexpr int kSensorFd = 900;

struct fake_sensor {
    uint16_t registers[3][256];
    uint16_t page;
    uint16_t variables[65536];  // by address word
};
fake_sensor sensor;

void reset_sensor() {
    for (int page = 0; page < 3; ++page) {
        for (int reg = 0; reg < 256; ++reg) {
            sensor.registers[page][reg] = static_cast<uint16_t>(0x5A3C ^ (page << 8) ^ reg);
        }
    }
    sensor.page = 0;
    // The variables keep what earlier inputs wrote: no outcome depends on
    // their values.
}

uint16_t* register_at(uint64_t reg) {
    if (reg > 0xFF) {
        std::abort();  // the library only ever names 8-bit registers
    }
    // The library selects the page before every access, so an access in a
    // page beyond 2 means sensreg took a page it should have refused. The
    // page register itself takes any value: "reg 0 0xF0 7" is a user's own
    // write of it.
    if (sensor.page > 2) {
        std::abort();
    }
    return &sensor.registers[sensor.page][reg];
}

uint16_t* variable_data() {
    return &sensor.variables[sensor.registers[1][0xC6]];
}

int read_register(dbg_register_record* record) {
    if (record->reg == MT9D131_REG_PAGE) {
        record->val = sensor.page;
    } else if (sensor.page == 1 && record->reg == MT9D131_REG_VAR_DATA) {
        record->val = *variable_data();
    } else {
        record->val = *register_at(record->reg);
    }
    return 0;
}

int write_register(const dbg_register_record* record) {
    const auto value = static_cast<uint16_t>(record->val);
    if (record->val > 0xFFFF) {
        std::abort();  // values are 16 bits wide
    }
    if (record->reg == MT9D131_REG_PAGE) {
        sensor.page = value;
    } else if (sensor.page == 1 && record->reg == MT9D131_REG_VAR_DATA) {
        *variable_data() = value;
    } else {
        *register_at(record->reg) = value;
    }
    return 0;
}

}  // namespace

// Opening the device always works and yields the same descriptor, so that a
// refusal after the open leaks nothing.
int __wrap__Z18sensor_device_openi(int /*extra_flags*/) {
    const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null_fd < 0 || dup2(null_fd, kSensorFd) < 0) {
        std::abort();
    }
    close(null_fd);
    return kSensorFd;
}

// The debug register requests are answered; the driver's private ones are
// not offered, as on most boards.
int __wrap_ioctl(int fd, unsigned long request, ...) {
    std::va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (fd != kSensorFd) {
        return __real_ioctl(fd, request, arg);
    }
    switch (request) {
        case VIDIOC_DBG_G_REGISTER:
            return read_register(static_cast<dbg_register_record*>(arg));
        case VIDIOC_DBG_S_REGISTER:
            return write_register(static_cast<const dbg_register_record*>(arg));
        default:
            errno = ENOTTY;
            return -1;
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    reset_sensor();
    word_list words("sensreg", data, size, kMaxWords);
    int status = -1;
    const trapped_outcome outcome =
        trap_refusals([&] { status = sensreg_main(words.argc(), words.argv()); });
    if (outcome == trapped_outcome::refused ? last_refusal_status() != 1 : status != 0) {
        std::abort();  // refusals end with 1, accesses with 0
    }
    return 0;
}
