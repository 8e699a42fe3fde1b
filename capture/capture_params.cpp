// vcapture's command line: long options with one or two dashes, unique
// prefixes, "=" or the next word for arguments, positional width and height
// anywhere among them.
#include "capture_params.h"

#include <error.h>
#include <getopt.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

// What an option's setter works on: the settings, and the program path that
// -help names in the usage text.
struct option_target {
    capture_params* params;
    const char* program_path;
};
using option_setter = void (*)(const option_target& target, const char* arg);

// One command-line option: its name, whether it takes an argument
// (getopt's no_argument or required_argument), and what it sets.
struct option_spec {
    const char* name;
    int has_arg;
    option_setter set;
};

template <int capture_params::*field>
void set_flag(const option_target& target, const char* /*arg*/) {
    target.params->*field = 1;
}

// Numbers are taken as atoi gives them: no checks, text gives 0.
template <int capture_params::*field>
void set_number(const option_target& target, const char* arg) {
    target.params->*field = std::atoi(arg);
}

// 0 stays 0, any other number is 1.
template <int capture_params::*field>
void set_switch(const option_target& target, const char* arg) {
    target.params->*field = static_cast<int>(std::atoi(arg) != 0);
}

// The setting points into the argument vector; nothing is copied.
template <const char* capture_params::*field>
void set_text(const option_target& target, const char* arg) {
    target.params->*field = arg;
}

void show_usage(const option_target& target, const char* /*arg*/) {
    capture_usage(target.program_path);
}

void parse_fps(const option_target& target, const char* text) {
    capture_params* params = target.params;
    errno = 0;
    const int converted = std::sscanf(text, "%u/%u", &params->fps_num, &params->fps_denom);
    if (converted < 0) {
        error(1, errno, "fps option parsing failed");
    }
    if (converted == 0 || converted > 2) {
        error(1, 0, "fps option parsing failed");
    }
    if (converted == 1) {
        params->fps_denom = 1;
    }
}

void parse_crop(const option_target& target, const char* text) {
    uint32_t* crop = target.params->crop;
    errno = 0;
    const int converted = std::sscanf(text, "%u,%u,%u,%u", &crop[0], &crop[1], &crop[2], &crop[3]);
    if (converted < 0) {
        error(1, errno, "crop option parsing failed");
    }
    if (converted != 2 && converted != 4) {
        error(1, 0, "crop option parsing failed");
    }
}

struct format_name {
    const char* name;
    uint32_t fourcc;
};
constexpr format_name kFormats[] = {
    {"yuv420", V4L2_PIX_FMT_YUV420},
    {"jpeg", V4L2_PIX_FMT_JPEG},
    {"grey", V4L2_PIX_FMT_GREY},
};

void parse_format(const option_target& target, const char* text) {
    for (const auto& format : kFormats) {
        if (std::strcmp(text, format.name) == 0) {
            target.params->pixfmt = format.fourcc;
            return;
        }
    }
    error(1, 0, "unsupported pixel format: %s", text);
}

// Every option, once. The order is getopt's: it decides which options an
// abbreviation is ambiguous between, and in what order glibc lists them.
constexpr option_spec kOptionSpecs[] = {
    {"help", no_argument, show_usage},
    {"quiet", no_argument, set_flag<&capture_params::quiet>},
    {"scroll", no_argument, set_flag<&capture_params::scroll>},
    {"crop", required_argument, parse_crop},
    {"rotate", required_argument, set_number<&capture_params::rotate>},
    {"fps", required_argument, parse_fps},
    {"format", required_argument, parse_format},
    {"qscale", required_argument, set_number<&capture_params::qscale>},
    {"ae", required_argument, set_switch<&capture_params::ae>},
    {"awb", required_argument, set_switch<&capture_params::awb>},
    {"count", required_argument, set_number<&capture_params::count>},
    {"skip", required_argument, set_number<&capture_params::skip>},
    {"out", required_argument, set_text<&capture_params::out>},
    {"pipe", required_argument, set_text<&capture_params::pipe>},
    {"poll", no_argument, set_flag<&capture_params::poll>},
    {"bufs", required_argument, set_number<&capture_params::bufs>},
    {"delay", required_argument, set_number<&capture_params::delay>},
    {"mjpeg-http", required_argument, set_text<&capture_params::mjpeg_http>},
    {"early-qbuf", no_argument, set_flag<&capture_params::early_qbuf>},
};
constexpr size_t kOptionCount = std::size(kOptionSpecs);

// getopt returns an option's code: its place in kOptionSpecs plus one, so
// that no code is 0 or '?'.
constexpr auto kLongOptions = [] {
    std::array<option, kOptionCount + 1> table{};  // ends with an all-zero entry
    for (size_t i = 0; i < kOptionCount; ++i) {
        table[i] = {kOptionSpecs[i].name, kOptionSpecs[i].has_arg, nullptr,
                    static_cast<int>(i + 1)};
    }
    return table;
}();
static_assert(kOptionCount + 1 < '?', "option codes must not collide with getopt's '?'");

void apply_option(int code, const option_target& target, const char* arg) {
    if (code >= 1 && static_cast<size_t>(code) <= kOptionCount) {
        kOptionSpecs[code - 1].set(target, arg);
        return;
    }
    error(1, 0, "option parsing failed");  // getopt has printed its own diagnostic
}

void check_settings(capture_params* params) {
    if (params->skip < 1) {
        params->skip = 1;
    }
    if (params->mjpeg_http != nullptr) {
        if (params->pixfmt != V4L2_PIX_FMT_JPEG) {
            error(1, 0, "-mjpeg-http requires -format jpeg");
        }
        if (params->pipe != nullptr) {
            error(1, 0, "-mjpeg-http is not compatible with -pipe");
        }
    }
}

}  // namespace

void capture_usage(const char* program_path) {
    std::printf(
        "Usage: %s width height [-crop w,h[,x,y]] [-rotate N] [-fps num[/denom]]\n"
        "\t\t[-format {yuv420 | jpeg | grey}] [-mjpeg-http boundary] [-delay N]\n"
        "\t\t[-count N] [-skip N] [-qscale N] [-ae 0|1] [-awb 0|1]\n"
        "\t\t[-out file] [-pipe basename] [-poll] [-bufs N] [-early-qbuf]\n"
        "\t\t[-scroll] [-quiet] [-help]\n",
        basename(program_path));
    std::exit(1);
}

void parse_capture_params(int argc, char* argv[], capture_params* params) {
    if (argc < 3) {
        capture_usage(argv[0]);
    }
    const option_target target{params, argv[0]};
    int code = 0;
    while ((code = getopt_long_only(argc, argv, "", kLongOptions.data(), nullptr)) != -1) {
        apply_option(code, target, optarg);
    }
    check_settings(params);
    if (optind != argc - 2) {
        error(1, 0, "width, height parameters missing");
    }
    params->width = static_cast<uint32_t>(std::atoi(argv[optind]));
    params->height = static_cast<uint32_t>(std::atoi(argv[optind + 1]));
}
