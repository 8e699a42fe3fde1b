// SPDX-License-Identifier: MIT
// vcapture's command line: long options with one or two dashes, unique
// prefixes, "=" or the next word for arguments, positional width and height
// anywhere among them.
#include "capture_params.h"

#include <error.h>
#include <getopt.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string_view>

#include "camboard_version.h"

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

// Asked for: the answer is no error.
void show_usage(const option_target& target, const char* /*arg*/) {
    capture_usage(target.program_path, 0);
}

[[noreturn]] void show_version(const option_target& /*target*/, const char* /*arg*/) {
    print_camboard_version("vcapture");
    std::exit(0);
}

// A whole unsigned decimal number of 32 bits: no blanks, no sign, nothing
// after the digits.
bool decimal_of(std::string_view text, uint32_t* value) {
    const char* const end = text.data() + text.size();
    const auto [stop, failure] = std::from_chars(text.data(), end, *value);
    return failure == std::errc{} && stop == end;
}

// The driver would refuse a quality outside 0..100 only after the device is
// set up, with a bare "Invalid argument".
void parse_qscale(const option_target& target, const char* text) {
    uint32_t quality = 0;
    if (!decimal_of(text, &quality) || quality > 100) {
        error(1, 0, "qscale option parsing failed: expected a number from 0 to 100, not '%s'",
              text);
    }
    target.params->qscale = static_cast<int>(quality);
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

// "w,h" or "w,h,x,y", whole unsigned decimal numbers; with two, x and y keep
// what an earlier -crop gave them.
void parse_crop(const option_target& target, const char* text) {
    uint32_t numbers[4] = {};
    size_t count = 0;
    std::string_view rest = text;
    bool readable = true;
    for (;;) {
        const size_t comma = rest.find(',');
        if (count == std::size(numbers) || !decimal_of(rest.substr(0, comma), &numbers[count])) {
            readable = false;
            break;
        }
        ++count;
        if (comma == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(comma + 1);
    }
    if (!readable || (count != 2 && count != 4)) {
        error(1, 0, "crop option parsing failed: expected w,h or w,h,x,y, not '%s'", text);
    }
    std::copy_n(numbers, count, target.params->crop);
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
    {"qscale", required_argument, parse_qscale},
    {"ae", required_argument, set_switch<&capture_params::ae>},
    {"awb", required_argument, set_switch<&capture_params::awb>},
    {"count", required_argument, set_number<&capture_params::count>},
    {"skip", required_argument, set_number<&capture_params::skip>},
    {"out", required_argument, set_text<&capture_params::out>},
    {"pipe", required_argument, set_text<&capture_params::pipe>},
    {"poll", no_argument, set_flag<&capture_params::poll>},
    {"bufs", required_argument, set_number<&capture_params::bufs>},
    {"delay", required_argument, set_number<&capture_params::delay>},
    {"device", required_argument, set_text<&capture_params::device>},
    {"mjpeg-http", required_argument, set_text<&capture_params::mjpeg_http>},
    {"early-qbuf", no_argument, set_flag<&capture_params::early_qbuf>},
    {"version", no_argument, show_version},
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

// A lone -help or -version (one or two dashes, any prefix getopt would take)
// is answered although the size is missing.
void answer_request(int argc, char* argv[]) {
    if (argc != 2) {
        return;
    }
    std::string_view word = argv[1];
    const size_t dashes = word.starts_with("--") ? 2 : word.starts_with('-') ? 1 : 0;
    word.remove_prefix(dashes);
    const option_target target{nullptr, argv[0]};
    if (dashes != 0 && !word.empty() && std::string_view("help").starts_with(word)) {
        show_usage(target, nullptr);
    }
    if (dashes != 0 && !word.empty() && std::string_view("version").starts_with(word)) {
        show_version(target, nullptr);
    }
}

// A size that is no number would reach the driver as 0 and come back as its
// smallest frame.
void size_of(const char* name, const char* text, uint32_t* value) {
    if (!decimal_of(text, value)) {
        error(1, 0, "%s parameter is not a number: '%s'", name, text);
    }
}

}  // namespace

void capture_usage(const char* program_path, int status) {
    std::printf(
        "Usage: %s width height [-crop w,h[,x,y]] [-rotate N] [-fps num[/denom]]\n"
        "\t\t[-format {yuv420 | jpeg | grey}] [-mjpeg-http boundary] [-delay N]\n"
        "\t\t[-count N] [-skip N] [-qscale N] [-ae 0|1] [-awb 0|1]\n"
        "\t\t[-out file] [-pipe basename] [-poll] [-bufs N] [-early-qbuf]\n"
        "\t\t[-device path] [-scroll] [-quiet] [-help] [-version]\n",
        basename(program_path));
    std::exit(status);
}

void parse_capture_params(int argc, char* argv[], capture_params* params) {
    if (argc < 3) {
        answer_request(argc, argv);
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
    size_of("width", argv[optind], &params->width);
    size_of("height", argv[optind + 1], &params->height);
}
