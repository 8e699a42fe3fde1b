// SPDX-License-Identifier: MIT
// The stream's parameters: the time per frame (which paces the frames) and
// the JPEG quality of compressed frames.
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "board_abi.h"
#include "driver_state.h"
#include "stream_requests.h"
#include "trace.h"

namespace boardsim {

namespace {

void fill_parm(const driver_state* d, abi::streamparm* p) {
    std::memset(p->raw, 0, sizeof p->raw);
    p->capture.capability = abi::kCapTimeperframe;
    p->capture.tpf_numerator = d->tpf_num;
    p->capture.tpf_denominator = d->tpf_den;
    p->capture.readbuffers = 1;
}

// What the sensor can deliver: 30 frames a second up to SVGA, 15 above (its
// full UXGA readout), and no slower than one a second (the longest frame its
// blanking registers stretch to).
constexpr uint32_t kFastestSvgaFps = 30;
constexpr uint32_t kFastestUxgaFps = 15;
constexpr uint32_t kSvgaPixels = 800 * 600;

uint32_t fastest_fps(const driver_state* d) {
    return d->width * d->height > kSvgaPixels ? kFastestUxgaFps : kFastestSvgaFps;
}

// The time per frame brought within the sensor's reach, as a driver does
// before it reports what it set.
void clamp_time_per_frame(const driver_state* d, uint32_t* num, uint32_t* den) {
    const uint32_t fps = fastest_fps(d);
    if (uint64_t{*num} * fps < *den) {
        *num = 1;
        *den = fps;
    } else if (*num > *den) {
        *num = 1;
        *den = 1;
    }
}

// A time per frame with a zero in it leaves the one set before.
int set_parm(driver_state* d, abi::streamparm* p) {
    const uint32_t num = p->capture.tpf_numerator;
    const uint32_t den = p->capture.tpf_denominator;
    const int rc = p->type == 1 ? 0 : -EINVAL;
    uint32_t set_num = num;
    uint32_t set_den = den;
    if (rc == 0 && num != 0 && den != 0) {
        clamp_time_per_frame(d, &set_num, &set_den);
        d->tpf_num = set_num;
        d->tpf_den = set_den;
    }
    char rb[24];
    if (set_num != num || set_den != den) {
        trace("VIDIOC_S_PARM capability=0x%X timeperframe=%u/%u = %s timeperframe=%u/%u",
              p->capture.capability, num, den, result_text(rc, rb), set_num, set_den);
    } else {
        trace("VIDIOC_S_PARM capability=0x%X timeperframe=%u/%u = %s", p->capture.capability, num,
              den, result_text(rc, rb));
    }
    if (rc == 0) {
        fill_parm(d, p);
    }
    return rc;
}

int get_parm(const driver_state* d, abi::streamparm* p) {
    const int rc = p->type == 1 ? 0 : -EINVAL;
    if (rc == 0) {
        fill_parm(d, p);
    }
    char rb[24];
    trace("VIDIOC_G_PARM = %s", result_text(rc, rb));
    return rc;
}

// Quality 0 is taken as the lowest the encoder knows, 1.
int set_jpegcomp(driver_state* d, const abi::jpegcompression* j) {
    const int rc = j->quality >= 0 && j->quality <= 100 ? 0 : -EINVAL;
    if (rc == 0) {
        d->quality = j->quality == 0 ? 1 : j->quality;
    }
    char rb[24];
    trace("VIDIOC_S_JPEGCOMP quality=%d = %s", j->quality, result_text(rc, rb));
    return rc;
}

int get_jpegcomp(const driver_state* d, abi::jpegcompression* j) {
    std::memset(j, 0, sizeof *j);
    j->quality = d->quality;
    trace("VIDIOC_G_JPEGCOMP = 0");
    return 0;
}

}  // namespace

int parameter_ioctl(int /*fd*/, unsigned long request, void* arg) {
    switch (request) {
        case abi::S_PARM:
            return set_parm(driver(), static_cast<abi::streamparm*>(arg));
        case abi::G_PARM:
            return get_parm(driver(), static_cast<abi::streamparm*>(arg));
        case abi::S_JPEGCOMP:
            return set_jpegcomp(driver(), static_cast<const abi::jpegcompression*>(arg));
        case abi::G_JPEGCOMP:
            return get_jpegcomp(driver(), static_cast<abi::jpegcompression*>(arg));
        default:
            return -ENOTTY;
    }
}

}  // namespace boardsim
