// SPDX-License-Identifier: MIT
#include "request_faults.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <map>
#include <string>

#include "board_abi.h"
#include "settings.h"
#include "trace.h"

namespace boardsim {

namespace {

// Each request first fails with the configured burst; the repeated request
// then goes through, and the next request meets the whole burst again.
int burst_failure() {
    static size_t burst_done = 0;
    const auto& burst = get_settings().burst;
    if (burst_done < burst.size()) {
        return -burst[burst_done++];
    }
    burst_done = 0;
    return 0;
}

struct request_name_entry {
    unsigned long request;
    const char* name;
};
constexpr request_name_entry kRequestNames[] = {
    {abi::QUERYCAP, "VIDIOC_QUERYCAP"},
    {abi::DBG_G_REGISTER, "VIDIOC_DBG_G_REGISTER"},
    {abi::DBG_S_REGISTER, "VIDIOC_DBG_S_REGISTER"},
    {abi::G_CAM_SENSOR_REG, "VIDIOC_G_CAM_SENSOR_REG"},
    {abi::S_CAM_SENSOR_REG, "VIDIOC_S_CAM_SENSOR_REG"},
    {abi::ENUM_FMT, "VIDIOC_ENUM_FMT"},
    {abi::QUERYCTRL, "VIDIOC_QUERYCTRL"},
    {abi::G_FMT, "VIDIOC_G_FMT"},
    {abi::S_FMT, "VIDIOC_S_FMT"},
    {abi::TRY_FMT, "VIDIOC_TRY_FMT"},
    {abi::REQBUFS, "VIDIOC_REQBUFS"},
    {abi::QUERYBUF, "VIDIOC_QUERYBUF"},
    {abi::QBUF, "VIDIOC_QBUF"},
    {abi::DQBUF, "VIDIOC_DQBUF"},
    {abi::STREAMON, "VIDIOC_STREAMON"},
    {abi::STREAMOFF, "VIDIOC_STREAMOFF"},
    {abi::G_PARM, "VIDIOC_G_PARM"},
    {abi::S_PARM, "VIDIOC_S_PARM"},
    {abi::G_CTRL, "VIDIOC_G_CTRL"},
    {abi::S_CTRL, "VIDIOC_S_CTRL"},
    {abi::G_JPEGCOMP, "VIDIOC_G_JPEGCOMP"},
    {abi::S_JPEGCOMP, "VIDIOC_S_JPEGCOMP"},
};

}  // namespace

const char* request_name(unsigned long request) {
    const auto* found =
        std::find_if(std::begin(kRequestNames), std::end(kRequestNames),
                     [request](const auto& entry) { return entry.request == request; });
    return found == std::end(kRequestNames) ? "ioctl" : found->name;
}

int injected_failure(unsigned long request) {
    int error = burst_failure();
    if (error == 0) {
        error = -named_request_fault(request_name(request));
    }
    if (error != 0) {
        char result_buf[24];
        trace("%s = %s", request_name(request), result_text(error, result_buf));
    }
    return error;
}

int named_request_fault(const char* name) {
    static std::map<std::string, int> calls;
    const int call = ++calls[name];
    for (const auto& fault : get_settings().request_faults) {
        if (fault.name == name && (fault.nth == 0 || fault.nth == call)) {
            return fault.error;
        }
    }
    return 0;
}

}  // namespace boardsim
