// SPDX-License-Identifier: MIT
// The driver's three controls: automatic white balance, automatic gain, and
// the rotation on the driver's private control id. Values are kept in the
// driver's state, brought into range and onto their steps as they are set.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "board_abi.h"
#include "driver_state.h"
#include "stream_requests.h"
#include "trace.h"

namespace boardsim {

namespace {

struct control_entry {
    uint32_t id;
    const char* name;
    int32_t minimum, maximum, step, default_value;
    uint32_t type;  // 1 integer, 2 boolean
};
constexpr control_entry kControls[] = {
    {abi::kCidAutoWhiteBalance, "White Balance, Automatic", 0, 1, 1, 1, 2},
    {abi::kCidAutogain, "Gain, Automatic", 0, 1, 1, 1, 2},
    {abi::kCidRotate, "Rotate", 0, 270, 90, 0, 1},
};

// Where the driver keeps a control's value.
int32_t* control_value(driver_state* d, uint32_t id) {
    switch (id) {
        case abi::kCidRotate:
            return &d->rotate;
        case abi::kCidAutoWhiteBalance:
            return &d->awb;
        case abi::kCidAutogain:
            return &d->autogain;
        default:
            return nullptr;
    }
}

// A value is brought into the control's range and onto its steps; the
// client reads back what was kept.
int set_control(abi::control* c) {
    int32_t* value = control_value(driver(), c->id);
    const auto* entry = std::find_if(std::begin(kControls), std::end(kControls),
                                     [c](const control_entry& e) { return e.id == c->id; });
    if (value == nullptr || entry == std::end(kControls)) {
        return -EINVAL;
    }
    const int64_t v = std::clamp<int64_t>(c->value, entry->minimum, entry->maximum);
    const int64_t steps = (v - entry->minimum + entry->step / 2) / entry->step;
    *value = static_cast<int32_t>(
        std::min<int64_t>(entry->minimum + steps * entry->step, entry->maximum));
    c->value = *value;
    return 0;
}

int get_control(abi::control* c) {
    const int32_t* value = control_value(driver(), c->id);
    if (value == nullptr) {
        return -EINVAL;
    }
    c->value = *value;
    return 0;
}

// Controls in id order; with V4L2_CTRL_FLAG_NEXT_CTRL the next one after the id.
int query_control(abi::queryctrl* q) {
    constexpr uint32_t kNext = 0x80000000;
    const bool next = (q->id & kNext) != 0;
    const uint32_t id = q->id & ~kNext;
    for (const control_entry& c : kControls) {
        if (next ? c.id > id : c.id == id) {
            std::memset(q, 0, sizeof *q);
            q->id = c.id;
            q->type = c.type;
            std::snprintf(q->name, sizeof q->name, "%s", c.name);
            q->minimum = c.minimum;
            q->maximum = c.maximum;
            q->step = c.step;
            q->default_value = c.default_value;
            return 0;
        }
    }
    return -EINVAL;
}

}  // namespace

int control_ioctl(int /*fd*/, unsigned long request, void* arg) {
    char rb[24];
    switch (request) {
        case abi::QUERYCTRL: {
            auto* q = static_cast<abi::queryctrl*>(arg);
            const uint32_t id = q->id;
            const int rc = query_control(q);
            trace("VIDIOC_QUERYCTRL id=0x%08X = %s", id, result_text(rc, rb));
            return rc;
        }
        case abi::G_CTRL: {
            auto* c = static_cast<abi::control*>(arg);
            const int rc = get_control(c);
            trace("VIDIOC_G_CTRL id=0x%08X = %s", c->id, result_text(rc, rb));
            return rc;
        }
        case abi::S_CTRL: {
            auto* c = static_cast<abi::control*>(arg);
            const int32_t asked = c->value;
            const int rc = set_control(c);
            trace("VIDIOC_S_CTRL id=0x%08X value=%d = %s", c->id, asked, result_text(rc, rb));
            return rc;
        }
        default:
            return -ENOTTY;
    }
}

}  // namespace boardsim
