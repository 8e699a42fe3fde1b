// SPDX-License-Identifier: MIT
#include "ext_controls.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "board_abi.h"
#include "stream.h"
#include "trace.h"
#include "user_memory.h"

namespace boardsim {

namespace {

// The driver's controls, looked up through its own control requests.
int query_control(int fd, uint32_t id, abi::queryctrl* q) {
    std::memset(q, 0, sizeof *q);
    q->id = id;
    return stream_ioctl(fd, abi::QUERYCTRL, q);
}

int query_ext_control(int fd, v4l2_query_ext_ctrl* e) {
    constexpr uint32_t kNextFlags = V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND;
    const uint32_t id = e->id;
    abi::queryctrl q{};
    const int rc = query_control(
        fd, (id & ~kNextFlags) | ((id & kNextFlags) != 0 ? V4L2_CTRL_FLAG_NEXT_CTRL : 0), &q);
    if (rc != 0) {
        return rc;
    }
    std::memset(e, 0, sizeof *e);
    e->id = q.id;
    e->type = q.type;
    std::memcpy(e->name, q.name, sizeof e->name);
    e->minimum = q.minimum;
    e->maximum = q.maximum;
    e->step = static_cast<decltype(e->step)>(q.step);
    e->default_value = q.default_value;
    e->flags = q.flags;
    e->elem_size = sizeof(int32_t);
    e->elems = 1;
    return 0;
}

// A value brought into the control's range and onto its steps, as the
// control framework does with what a client sets.
int32_t in_range(const abi::queryctrl& q, int32_t value) {
    const int64_t v = std::clamp<int64_t>(value, q.minimum, q.maximum);
    const int64_t step = q.step > 0 ? q.step : 1;
    return static_cast<int32_t>(
        std::min<int64_t>(q.minimum + (v - q.minimum + step / 2) / step * step, q.maximum));
}

// One control of an extended request; `which` is a control class, the
// current values (0) or the defaults.
int ext_control(int fd, unsigned long request, uint32_t which, v4l2_ext_control* c) {
    abi::queryctrl q{};
    if (query_control(fd, c->id, &q) != 0) {
        return -EINVAL;
    }
    if (request == VIDIOC_G_EXT_CTRLS && which == V4L2_CTRL_WHICH_DEF_VAL) {
        c->value = q.default_value;
        return 0;
    }
    abi::control record{c->id, in_range(q, c->value)};
    if (request == VIDIOC_G_EXT_CTRLS || request == VIDIOC_S_EXT_CTRLS) {
        const int rc =
            stream_ioctl(fd, request == VIDIOC_G_EXT_CTRLS ? abi::G_CTRL : abi::S_CTRL, &record);
        if (rc != 0) {
            return rc;
        }
    }
    c->value = record.value;
    return 0;
}

constexpr uint32_t kMaxExtControls = 1024;

// The controls of an extended request travel in an array of the client's:
// each is checked first, then all are served. error_idx tells the client
// which control failed: the count when the request was refused as a whole.
int ext_controls(int fd, unsigned long request, v4l2_ext_controls* cs) {
    cs->error_idx = cs->count;
    // The current values, the defaults or those of a control class; no
    // request API, so no values of a request.
    if (cs->which == V4L2_CTRL_WHICH_REQUEST_VAL) {
        return -EINVAL;
    }
    if (cs->count == 0) {
        return 0;
    }
    if (cs->count > kMaxExtControls ||
        (request != VIDIOC_G_EXT_CTRLS && cs->which == V4L2_CTRL_WHICH_DEF_VAL)) {
        return -EINVAL;
    }
    v4l2_ext_control controls[kMaxExtControls];
    const size_t bytes = cs->count * sizeof controls[0];
    if (!copy_from_user(controls, cs->controls, bytes)) {
        return -EFAULT;
    }
    // A control that does not exist (or is not of the class asked for) is
    // found before any is read or written: only a trial names it.
    for (uint32_t i = 0; i < cs->count; ++i) {
        abi::queryctrl q{};
        if (query_control(fd, controls[i].id, &q) != 0 ||
            (cs->which != V4L2_CTRL_WHICH_CUR_VAL && cs->which != V4L2_CTRL_WHICH_DEF_VAL &&
             V4L2_CTRL_ID2WHICH(controls[i].id) != cs->which)) {
            cs->error_idx = request == VIDIOC_TRY_EXT_CTRLS ? i : cs->count;
            return -EINVAL;
        }
    }
    for (uint32_t i = 0; i < cs->count; ++i) {
        if (const int rc = ext_control(fd, request, cs->which, &controls[i]); rc != 0) {
            cs->error_idx = i;
            return rc;
        }
    }
    return copy_to_user(cs->controls, controls, bytes) ? 0 : -EFAULT;
}

const char* ext_request_name(unsigned long request) {
    return request == VIDIOC_G_EXT_CTRLS   ? "VIDIOC_G_EXT_CTRLS"
           : request == VIDIOC_S_EXT_CTRLS ? "VIDIOC_S_EXT_CTRLS"
                                           : "VIDIOC_TRY_EXT_CTRLS";
}

}  // namespace

int ext_control_ioctl(int fd, unsigned long request, void* arg) {
    char rb[24];
    switch (request) {
        case VIDIOC_QUERY_EXT_CTRL: {
            auto* e = static_cast<v4l2_query_ext_ctrl*>(arg);
            const uint32_t id = e->id;
            const int rc = query_ext_control(fd, e);
            trace("VIDIOC_QUERY_EXT_CTRL id=0x%08X = %s", id, result_text(rc, rb));
            return rc;
        }
        case VIDIOC_G_EXT_CTRLS:
        case VIDIOC_S_EXT_CTRLS:
        case VIDIOC_TRY_EXT_CTRLS: {
            auto* cs = static_cast<v4l2_ext_controls*>(arg);
            const int rc = ext_controls(fd, request, cs);
            trace("%s count=%u = %s", ext_request_name(request), cs->count, result_text(rc, rb));
            return rc;
        }
        default:
            return -ENOTTY;
    }
}

}  // namespace boardsim
