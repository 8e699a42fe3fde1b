#include "request_faults.h"

#include <cstddef>
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

}  // namespace

const char* request_name(unsigned long request) {
    switch (request) {
        case abi::QUERYCAP:
            return "VIDIOC_QUERYCAP";
        case abi::DBG_G_REGISTER:
            return "VIDIOC_DBG_G_REGISTER";
        case abi::DBG_S_REGISTER:
            return "VIDIOC_DBG_S_REGISTER";
        case abi::G_CAM_SENSOR_REG:
            return "VIDIOC_G_CAM_SENSOR_REG";
        case abi::S_CAM_SENSOR_REG:
            return "VIDIOC_S_CAM_SENSOR_REG";
        case abi::ENUM_FMT:
            return "VIDIOC_ENUM_FMT";
        case abi::QUERYCTRL:
            return "VIDIOC_QUERYCTRL";
        case abi::G_FMT:
            return "VIDIOC_G_FMT";
        case abi::S_FMT:
            return "VIDIOC_S_FMT";
        case abi::TRY_FMT:
            return "VIDIOC_TRY_FMT";
        case abi::REQBUFS:
            return "VIDIOC_REQBUFS";
        case abi::QUERYBUF:
            return "VIDIOC_QUERYBUF";
        case abi::QBUF:
            return "VIDIOC_QBUF";
        case abi::DQBUF:
            return "VIDIOC_DQBUF";
        case abi::STREAMON:
            return "VIDIOC_STREAMON";
        case abi::STREAMOFF:
            return "VIDIOC_STREAMOFF";
        case abi::G_PARM:
            return "VIDIOC_G_PARM";
        case abi::S_PARM:
            return "VIDIOC_S_PARM";
        case abi::G_CTRL:
            return "VIDIOC_G_CTRL";
        case abi::S_CTRL:
            return "VIDIOC_S_CTRL";
        case abi::G_JPEGCOMP:
            return "VIDIOC_G_JPEGCOMP";
        case abi::S_JPEGCOMP:
            return "VIDIOC_S_JPEGCOMP";
        default:
            return "ioctl";
    }
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
