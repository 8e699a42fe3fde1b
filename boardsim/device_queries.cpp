// SPDX-License-Identifier: MIT
#include "device_queries.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>

#include "board_abi.h"
#include "ext_controls.h"
#include "open_files.h"
#include "trace.h"

namespace boardsim {

namespace {

// One priority per open file of the device in this process.
std::mutex g_priority_lock;
std::map<uint32_t, uint32_t> g_priority;

uint32_t priority_of(uint32_t file) {
    const std::lock_guard<std::mutex> guard(g_priority_lock);
    const auto found = g_priority.find(file);
    return found == g_priority.end() ? uint32_t{V4L2_PRIORITY_UNSET} : found->second;
}

uint32_t highest_priority() {
    const std::lock_guard<std::mutex> guard(g_priority_lock);
    auto highest = uint32_t{V4L2_PRIORITY_UNSET};
    for (const auto& [file, priority] : g_priority) {
        highest = std::max(highest, priority);
    }
    return highest;
}

int set_priority(uint32_t file, const uint32_t* priority) {
    if (*priority < V4L2_PRIORITY_BACKGROUND || *priority > V4L2_PRIORITY_RECORD) {
        return -EINVAL;
    }
    const std::lock_guard<std::mutex> guard(g_priority_lock);
    g_priority[file] = *priority;
    return 0;
}

// The sensor is the one input: a camera.
int enum_input(v4l2_input* input) {
    if (input->index != 0) {
        return -EINVAL;
    }
    std::memset(input, 0, sizeof *input);
    std::snprintf(reinterpret_cast<char*>(input->name), sizeof input->name, "Camera");
    input->type = V4L2_INPUT_TYPE_CAMERA;
    return 0;
}

bool known_pixfmt(uint32_t pixfmt) {
    return pixfmt == abi::kFourccYU12 || pixfmt == abi::kFourccGREY || pixfmt == abi::kFourccJPEG;
}

// The sensor's scaler: 32..1600 x 16..1200 in steps of 16 x 8.
int enum_framesizes(v4l2_frmsizeenum* f) {
    if (f->index != 0 || !known_pixfmt(f->pixel_format)) {
        return -EINVAL;
    }
    f->type = V4L2_FRMSIZE_TYPE_STEPWISE;
    f->stepwise = {32, 1600, 16, 16, 1200, 8};
    std::memset(f->reserved, 0, sizeof f->reserved);
    return 0;
}

}  // namespace

void priority_open(uint32_t file) {
    const std::lock_guard<std::mutex> guard(g_priority_lock);
    g_priority[file] = V4L2_PRIORITY_DEFAULT;
}

void priority_close(uint32_t file) {
    const std::lock_guard<std::mutex> guard(g_priority_lock);
    g_priority.erase(file);
}

int priority_check(int fd, unsigned long request) {
    static constexpr unsigned long kChanging[] = {
        abi::S_FMT,    abi::S_PARM,    abi::S_CTRL,    abi::S_JPEGCOMP,   abi::REQBUFS,
        abi::STREAMON, abi::STREAMOFF, VIDIOC_S_INPUT, VIDIOC_S_PRIORITY, VIDIOC_S_EXT_CTRLS,
    };
    if (std::find(std::begin(kChanging), std::end(kChanging), request) == std::end(kChanging)) {
        return 0;
    }
    return priority_of(open_file_of(fd)) < highest_priority() ? -EBUSY : 0;
}

int query_ioctl(int fd, unsigned long request, void* arg) {
    char rb[24];
    int rc = -ENOTTY;
    switch (request) {
        case VIDIOC_ENUMINPUT: {
            auto* input = static_cast<v4l2_input*>(arg);
            const uint32_t index = input->index;
            rc = enum_input(input);
            trace("VIDIOC_ENUMINPUT index=%u = %s", index, result_text(rc, rb));
            return rc;
        }
        case VIDIOC_G_INPUT:
            *static_cast<int*>(arg) = 0;
            trace("VIDIOC_G_INPUT = 0");
            return 0;
        case VIDIOC_S_INPUT: {
            const int input = *static_cast<const int*>(arg);
            rc = input == 0 ? 0 : -EINVAL;
            trace("VIDIOC_S_INPUT input=%d = %s", input, result_text(rc, rb));
            return rc;
        }
        case VIDIOC_G_PRIORITY:
            *static_cast<uint32_t*>(arg) = highest_priority();
            trace("VIDIOC_G_PRIORITY = 0");
            return 0;
        case VIDIOC_S_PRIORITY: {
            const auto* priority = static_cast<const uint32_t*>(arg);
            rc = set_priority(open_file_of(fd), priority);
            trace("VIDIOC_S_PRIORITY priority=%u = %s", *priority, result_text(rc, rb));
            return rc;
        }
        case VIDIOC_ENUM_FRAMESIZES: {
            auto* f = static_cast<v4l2_frmsizeenum*>(arg);
            rc = enum_framesizes(f);
            trace("VIDIOC_ENUM_FRAMESIZES index=%u = %s", f->index, result_text(rc, rb));
            return rc;
        }
        default:
            return ext_control_ioctl(fd, request, arg);
    }
}

}  // namespace boardsim
