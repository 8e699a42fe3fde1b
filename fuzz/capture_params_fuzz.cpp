// SPDX-License-Identifier: MIT
// vcapture's command line: one argument per input line after "vcapture".
// Every line must end in settings that keep the parser's promises, in a
// refusal with status 1, or in the answer to -help or -version (status 0).
#include <getopt.h>

#include <cstdlib>

#include "capture_params.h"
#include "harness/exit_trap.h"
#include "harness/word_list.h"

namespace {

// More than the longest sensible command line; keeps inputs quick.
constexpr size_t kMaxWords = 40;

void check_settings(const capture_params& p) {
    if (p.skip < 1) {
        std::abort();  // the frame loop divides by it
    }
    if (p.mjpeg_http != nullptr && (p.pixfmt != V4L2_PIX_FMT_JPEG || p.pipe != nullptr)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    word_list words("vcapture", data, size, kMaxWords);
    capture_params p;
    optind = 0;  // getopt starts over on a new command line
    const trapped_outcome outcome =
        trap_refusals([&] { parse_capture_params(words.argc(), words.argv(), &p); });
    if (outcome == trapped_outcome::refused) {
        if (last_refusal_status() != 1 && last_refusal_status() != 0) {
            std::abort();
        }
        return 0;
    }
    check_settings(p);
    return 0;
}
