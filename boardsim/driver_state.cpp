// SPDX-License-Identifier: MIT
#include "driver_state.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "board_abi.h"
#include "real_libc.h"
#include "settings.h"
#include "stream_format.h"

namespace boardsim {

namespace {

constexpr char kMagic[8] = "MXCV4L2";

// A file of the simulator's directory, created when missing and mapped
// shared; `fresh` tells whether it was created.
void* map_shared_file(const char* name, size_t size, bool* fresh) {
    const std::string path = get_settings().dir + "/" + name;
    *fresh = false;
    int fd = real::open(path.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) {
        fd = real::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        *fresh = true;
    }
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) {
        return nullptr;
    }
    void* p = real::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    real::close(fd);
    return p == MAP_FAILED ? nullptr : p;
}

// The driver as it powers up: VGA YUV 4:2:0 at 30 frames a second, JPEG
// quality 75, controls at 0, no buffers.
void set_defaults(driver_state* state) {
    std::memset(state, 0, sizeof *state);
    std::memcpy(state->magic, kMagic, sizeof kMagic);
    adjust_format(state, 640, 480, abi::kFourccYU12);
    state->tpf_num = 1;
    state->tpf_den = 30;
    state->quality = 75;
}

}  // namespace

driver_state* driver() {
    static driver_state* const mapped = [] {
        bool fresh = false;
        auto* state = static_cast<driver_state*>(
            map_shared_file("driver.state", sizeof(driver_state), &fresh));
        if (state != nullptr && (fresh || std::memcmp(state->magic, kMagic, sizeof kMagic) != 0)) {
            set_defaults(state);
        }
        return state;
    }();
    return mapped;
}

}  // namespace boardsim
