// SPDX-License-Identifier: MIT
#include "frame_faults.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "board_abi.h"
#include "frame_source.h"
#include "settings.h"

namespace boardsim {

namespace {

bool fault_applies(uint32_t seq) {
    const auto& seqs = get_settings().fault_seqs;
    return seqs.empty() || std::find(seqs.begin(), seqs.end(), seq) != seqs.end();
}

// The faults of a JPEG image's markers and of its reported length.
uint32_t break_jpeg(const std::string& fault, uint8_t* data, uint32_t used) {
    if (fault == "nosoi") {
        data[0] = data[1] = 0;
    } else if (fault == "noeoi") {
        data[used - 2] = data[used - 1] = 0;
    } else if (fault == "twoeoi") {
        // An end marker inside a comment right after the start marker.
        static const uint8_t comment[] = {0xFF, 0xFE, 0x00, 0x04, 0xFF, 0xD9};
        std::memmove(data + 2 + sizeof comment, data + 2, used - 2);
        std::memcpy(data + 2, comment, sizeof comment);
        used += sizeof comment;
    } else if (fault == "pastused") {
        used -= used / 4;  // the image runs on past what the driver reports
    }
    return used;
}

}  // namespace

uint32_t produce_frame(const driver_state* d, uint8_t* data, uint32_t index, uint32_t seq,
                       uint32_t* reported_index) {
    static const std::string kNoFault;
    const settings& s = get_settings();
    const std::string& fault = fault_applies(seq) ? s.frame_fault : kNoFault;
    *reported_index = fault == "badindex" ? d->buf_count + 5 : index;
    if (fault == "empty") {
        return 0;
    }
    uint32_t used = render_frame({d->width, d->height, d->pixfmt}, seq, d->quality, s.jpeg_size,
                                 data, d->buf_length);
    if (d->pixfmt == abi::kFourccJPEG && used >= 4) {
        used = break_jpeg(fault, data, used);
    }
    if (fault == "overlong") {
        used = d->buf_length + 4096;
    }
    return used;
}

}  // namespace boardsim
