// isptune: reads or writes one image property of the Pixim camera module,
// saves and loads its whole configuration, and clears its on-screen text.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "comm.h"
#include "config_files.h"
#include "params.h"
#include "pixim_commands.h"

namespace {

constexpr const char* kHelp[] = {
    "PIXIM configuration application",
    "System commands:",
    "  --help",
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

enum class Mode { none, write, read };

struct Request {
    Mode mode = Mode::none;
    bool osd = false;
    uint16_t id = 0;
    int32_t value = 0;
};

void printHelp() {
    std::printf("\n");
    for (const char* line : kHelp) {
        std::printf("%s\n", line);
    }
    std::printf("\n");
}

// A value word read as atoi reads it (blanks, sign, digits, anything after
// ignored); a number past an int's range is no value at all.
bool valueOf(const char* word, int32_t* value) {
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(word, &end, 10);
    if (errno == ERANGE || n < INT_MIN || n > INT_MAX) {
        return false;
    }
    *value = end == word ? 0 : static_cast<int32_t>(n);
    return true;
}

[[noreturn]] void wrongInput() {
    std::printf("wrong input value!\n");
    std::exit(0);
}

// Walks the arguments; the system commands end the program where they stand.
Request parseArguments(int argc, char* argv[]) {
    Request r;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--help") == 0) {
            printHelp();
            std::exit(0);
        } else if (std::strcmp(arg, "--osddisable") == 0) {
            r.osd = true;
        } else if (std::strcmp(arg, "--write") == 0) {
            r.mode = Mode::write;
        } else if (std::strcmp(arg, "--read") == 0) {
            r.mode = Mode::read;
        } else if (std::strcmp(arg, "--writeconf") == 0) {
            writeConf(false);
            std::exit(0);
        } else if (std::strcmp(arg, "--readconf") == 0) {
            readConf();
            std::exit(0);
        } else if (std::strcmp(arg, "--restore") == 0) {
            writeConf(true);
            std::exit(0);
        } else if (const PixParam* p = paramByOption(arg)) {
            if (r.mode == Mode::write) {
                int32_t value = 0;
                if (i + 1 >= argc || !valueOf(argv[i + 1], &value) || value < p->min ||
                    value > p->max) {
                    wrongInput();
                }
                std::printf(p->echo, value);
                r.value = value;
                ++i;
            }
            r.id = p->id;
        }
    }
    return r;
}

}  // namespace

int main(int argc, char* argv[]) {
    const Request r = parseArguments(argc, argv);
    if (const int result = commInit(); result != 0) {
        std::printf("commInit  Error\n");
        return result;
    }
    if (r.osd) {
        OsdClearText(0);  // the whole screen
    } else if (r.mode != Mode::none) {
        const int type = paramTypeOf(r.id);
        uint8_t buffer[4] = {};
        if (r.mode == Mode::write) {
            valueToBuffer(r.value, type, buffer);
            const int result = SetProperty(r.id, type, buffer);
            if (result == 0) {
                std::printf("OK\n");
            } else {
                std::printf("Error. Return code: %d\n", result);
            }
        } else {
            const int result = GetProperty(r.id, type, buffer);
            if (result == 0) {
                std::printf("%d\n", bufferToValue(type, buffer));
            } else {
                std::printf("Error. Return code: %d\n", result);
            }
        }
    }
    commClose();
    return 0;
}
