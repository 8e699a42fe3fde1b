// The simulator's settings: environment variables named BOARDSIM_*, read once
// per process. boardsim/README.md documents each of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace boardsim {

struct register_fault {
    bool active = false;
    unsigned page = 0;
    unsigned reg = 0;
    int error = 0;
};

struct settings {
    std::string dir;  // empty: the simulator is switched off, everything passes through

    // Opening the capture device.
    int open_errno = 0;
    bool noatime_eperm = false;

    // Every request first fails with these errors, in order (EINTR/EAGAIN bursts).
    std::vector<int> burst;

    // Capability query.
    int querycap_errno = 0;
    std::string driver = "mxc_v4l2";
    std::string card = "MT9D131 camera";
    uint32_t version = 0x020610;
    uint32_t capabilities = 0x84000001;

    // Register requests: which forms the driver answers, and how it refuses.
    int dbg_errno = 0;
    int priv_errno = 0;
    bool reads_leave_value = false;
    register_fault read_fault;
    uint16_t chip_version = 0x1519;
};

const settings& get_settings();

// "EINVAL" or "22" as an error number; 0 for an empty or unknown text.
int parse_errno(const std::string& text);
// The symbolic name of an error number, for the trace.
const char* errno_name(int error);

}  // namespace boardsim
