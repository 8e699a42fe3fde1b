// SPDX-License-Identifier: MIT
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

    // Requests failing by name: "VIDIOC_DQBUF" fails with `error` on its
    // `nth` call in the process (every call when nth is 0).
    struct request_fault {
        std::string name;
        int error = 0;
        int nth = 0;
    };
    std::vector<request_fault> request_faults;

    // Streaming.
    bool unpaced = false;              // frames as fast as they are asked for
    uint32_t max_bufs = 32;            // the most buffers the driver allocates
    uint32_t trace_max = 256U << 20U;  // the trace file's bound in bytes; 0: no trace
    uint32_t reqbufs_count = 0;        // a count the driver reports instead of its own; 0: none
    int32_t field = -1;                // field value reported in formats; -1: V4L2_FIELD_NONE
    std::string frame_fault;           // empty, nosoi, noeoi, twoeoi, pastused, overlong, badindex
    std::vector<uint32_t> fault_seqs;  // frames the fault applies to; empty: all
    uint32_t jpeg_size = 0;            // JPEG frames padded or shrunk to this size
    std::string poll_fault;            // timeout, many, error:ERRNO, err, nval, hup, noin
};

const settings& get_settings();

// "EINVAL" or "22" as an error number; 0 for an empty or unknown text.
int parse_errno(const std::string& text);
// The symbolic name of an error number, for the trace.
const char* errno_name(int error);

}  // namespace boardsim
