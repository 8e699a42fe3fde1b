// SPDX-License-Identifier: MIT
#include "stream_format.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "board_abi.h"
#include "settings.h"
#include "stream_queue.h"
#include "stream_requests.h"
#include "trace.h"

namespace boardsim {

namespace {

struct format_entry {
    uint32_t fourcc;
    const char* description;
    uint32_t flags;
};
constexpr format_entry kFormats[] = {
    {abi::kFourccYU12, "Planar YUV 4:2:0", 0},
    {abi::kFourccGREY, "8-bit Greyscale", 0},
    {abi::kFourccJPEG, "JFIF JPEG", 1},  // compressed
};

uint32_t reported_field() {
    return get_settings().field < 0 ? 1U : static_cast<uint32_t>(get_settings().field);
}

void fill_format(const driver_state* d, abi::format* f) {
    std::memset(f->raw, 0, sizeof f->raw);
    f->pix.width = d->width;
    f->pix.height = d->height;
    f->pix.pixelformat = d->pixfmt;
    f->pix.field = reported_field();
    f->pix.bytesperline = d->bytesperline;
    f->pix.sizeimage = d->sizeimage;
    f->pix.colorspace = d->pixfmt == abi::kFourccJPEG ? 7 : 1;  // JPEG or SMPTE170M
}

// A four-character code as the trace shows it, unprintable bytes as dots.
const char* fourcc_text(uint32_t fourcc, char (&text)[5]) {
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((fourcc >> (8 * i)) & 0xFF);
        text[i] = c >= 32 && c < 127 ? c : '.';
    }
    text[4] = '\0';
    return text;
}

// S_FMT keeps the adjusted format; TRY_FMT makes the same adjustment and
// keeps nothing. Neither may change the format while the stream runs.
int set_or_try_format(driver_state* d, unsigned long request, abi::format* f) {
    const uint32_t width = f->pix.width;
    const uint32_t height = f->pix.height;
    const uint32_t pixfmt = f->pix.pixelformat;
    int rc = -EINVAL;
    if (f->type == 1) {
        rc = request == abi::S_FMT && g_stream.streaming ? -EBUSY : 0;
    }
    if (rc == 0 && request == abi::S_FMT) {
        adjust_format(d, width, height, pixfmt);
        fill_format(d, f);
    } else if (rc == 0) {
        driver_state trial = *d;
        adjust_format(&trial, width, height, pixfmt);
        fill_format(&trial, f);
    }
    char rb[24];
    char fc[5];
    trace("%s width=%u height=%u pixfmt=%s = %s",
          request == abi::S_FMT ? "VIDIOC_S_FMT" : "VIDIOC_TRY_FMT", width, height,
          fourcc_text(pixfmt, fc), result_text(rc, rb));
    return rc;
}

int get_format(const driver_state* d, abi::format* f) {
    const int rc = f->type == 1 ? 0 : -EINVAL;
    if (rc == 0) {
        fill_format(d, f);
    }
    char rb[24];
    trace("VIDIOC_G_FMT = %s", result_text(rc, rb));
    return rc;
}

int enum_format(abi::fmtdesc* f) {
    if (f->type != 1 || f->index >= std::size(kFormats)) {
        return -EINVAL;
    }
    const format_entry& e = kFormats[f->index];
    const uint32_t index = f->index;
    std::memset(f, 0, sizeof *f);
    f->index = index;
    f->type = 1;
    f->flags = e.flags;
    std::snprintf(f->description, sizeof f->description, "%s", e.description);
    f->pixelformat = e.fourcc;
    return 0;
}

}  // namespace

void adjust_format(driver_state* d, uint32_t width, uint32_t height, uint32_t pixfmt) {
    // The sensor's limits, in steps the scaler supports.
    d->width = std::clamp<uint32_t>(width, 32, 1600) & ~15U;
    d->height = std::clamp<uint32_t>(height, 16, 1200) & ~7U;
    if (pixfmt != abi::kFourccGREY && pixfmt != abi::kFourccJPEG) {
        pixfmt = abi::kFourccYU12;
    }
    d->pixfmt = pixfmt;
    const uint32_t luma = d->width * d->height;
    if (pixfmt == abi::kFourccGREY) {
        d->bytesperline = d->width;
        d->sizeimage = luma;
    } else if (pixfmt == abi::kFourccYU12) {
        d->bytesperline = d->width;
        d->sizeimage = luma * 3 / 2;
    } else {
        d->bytesperline = 0;
        d->sizeimage = luma + 4096;  // room for any picture at the highest quality
    }
}

int format_ioctl(int /*fd*/, unsigned long request, void* arg) {
    switch (request) {
        case abi::S_FMT:
        case abi::TRY_FMT:
            return set_or_try_format(driver(), request, static_cast<abi::format*>(arg));
        case abi::G_FMT:
            return get_format(driver(), static_cast<abi::format*>(arg));
        case abi::ENUM_FMT: {
            auto* f = static_cast<abi::fmtdesc*>(arg);
            const int rc = enum_format(f);
            char rb[24];
            trace("VIDIOC_ENUM_FMT index=%u = %s", f->index, result_text(rc, rb));
            return rc;
        }
        default:
            return -ENOTTY;
    }
}

}  // namespace boardsim
