// SPDX-License-Identifier: MIT
#include "help_text.h"

#include <cstdio>

namespace {

// Kept as the text users know; a unit test holds the parameter lines to the
// option table, so that the two cannot drift apart.
constexpr const char* kHelp[] = {
    "PIXIM configuration application",
    "System commands:",
    "  --help",
    "  --version",
    "  --writeconf     Write configuration from /etc/pixim.conf file to PIXIM",
    "  --readconf      Read configuration from PIXIM to /etc/pixim.conf file",
    "  --restore       Restore default confuration for PIXIM",
    "  --osddisable    Disable on screen display",
    "Control commands:",
    "  --write         Write parameter in PIXIM",
    "  --read          Read parameter from PIXIM",
    "Parameter list:",
    "  --gamma         0 - off; 1 - auto; 2 - manual",
    "  --gammavalue    25..100 step 1",
    "  --range         1 - auto; 2 - manual",
    "  --rangevalue    0..36 step 1",
    "  --aepreference  0 - highligts; 1 - shadows",
    "  --dn            1 - auto; 3 - on; 4 - off",
    "  --color         0 - color; 1 - bw1; 2 - bw2",
    "  --gain          1 - agc; 2 - manual",
    "  --gainvalue     -42..60 step 1",
    "  --wb            1 - atw, 2 - awb, 3 - manual",
    "  --wbmethod      1 - kelvin; 2 - red/blue",
    "  --wbkelvin      2000..11000 step 1",
    "  --wbred         -20..20 step 1",
    "  --wbblue        -20..20 step 1",
    "  --iris          0 - manual; 1 - DC auto iris",
    "  --irisgain      0..255 step 1",
    "  --irisoffset    0..255 step 1",
    "  --saturation    -8..8 step 1",
    "  --sharpness     -8..8 step 1",
    "Example:",
    "isptune --read --wb               read white balance mode from PIXIM",
    "isptune --write --saturation -6   write -6 saturation value in PIXIM",
};

}  // namespace

std::span<const char* const> helpLines() {
    return kHelp;
}

void printHelp(std::FILE* stream) {
    std::fprintf(stream, "\n");
    for (const char* line : kHelp) {
        std::fprintf(stream, "%s\n", line);
    }
    std::fprintf(stream, "\n");
}
