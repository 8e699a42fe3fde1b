// vcapture's command line: long options with one or two dashes, unique
// prefixes, "=" or the next word for arguments, positional width and height
// anywhere among them.
#include "capture_params.h"

#include <error.h>
#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

enum option_code : int {
    OPT_HELP = 1,
    OPT_QUIET,
    OPT_SCROLL,
    OPT_CROP,
    OPT_ROTATE,
    OPT_FPS,
    OPT_FORMAT,
    OPT_QSCALE,
    OPT_AE,
    OPT_AWB,
    OPT_COUNT,
    OPT_SKIP,
    OPT_OUT,
    OPT_PIPE,
    OPT_POLL,
    OPT_BUFS,
    OPT_DELAY,
    OPT_MJPEG_HTTP,
    OPT_EARLY_QBUF,
};

constexpr option kOptions[] = {
    {"help", no_argument, nullptr, OPT_HELP},
    {"quiet", no_argument, nullptr, OPT_QUIET},
    {"scroll", no_argument, nullptr, OPT_SCROLL},
    {"crop", required_argument, nullptr, OPT_CROP},
    {"rotate", required_argument, nullptr, OPT_ROTATE},
    {"fps", required_argument, nullptr, OPT_FPS},
    {"format", required_argument, nullptr, OPT_FORMAT},
    {"qscale", required_argument, nullptr, OPT_QSCALE},
    {"ae", required_argument, nullptr, OPT_AE},
    {"awb", required_argument, nullptr, OPT_AWB},
    {"count", required_argument, nullptr, OPT_COUNT},
    {"skip", required_argument, nullptr, OPT_SKIP},
    {"out", required_argument, nullptr, OPT_OUT},
    {"pipe", required_argument, nullptr, OPT_PIPE},
    {"poll", no_argument, nullptr, OPT_POLL},
    {"bufs", required_argument, nullptr, OPT_BUFS},
    {"delay", required_argument, nullptr, OPT_DELAY},
    {"mjpeg-http", required_argument, nullptr, OPT_MJPEG_HTTP},
    {"early-qbuf", no_argument, nullptr, OPT_EARLY_QBUF},
    {nullptr, 0, nullptr, 0},
};

struct format_name {
    const char* name;
    uint32_t fourcc;
};
constexpr format_name kFormats[] = {
    {"yuv420", V4L2_PIX_FMT_YUV420},
    {"jpeg", V4L2_PIX_FMT_JPEG},
    {"grey", V4L2_PIX_FMT_GREY},
};

void parse_fps(const char* text, capture_params* p) {
    errno = 0;
    const int n = std::sscanf(text, "%u/%u", &p->fps_num, &p->fps_denom);
    if (n < 0) {
        error(1, errno, "fps option parsing failed");
    }
    if (n == 0 || n > 2) {
        error(1, 0, "fps option parsing failed");
    }
    if (n == 1) {
        p->fps_denom = 1;
    }
}

void parse_crop(const char* text, capture_params* p) {
    errno = 0;
    const int n =
        std::sscanf(text, "%u,%u,%u,%u", &p->crop[0], &p->crop[1], &p->crop[2], &p->crop[3]);
    if (n < 0) {
        error(1, errno, "crop option parsing failed");
    }
    if (n != 2 && n != 4) {
        error(1, 0, "crop option parsing failed");
    }
}

void parse_format(const char* text, capture_params* p) {
    for (const auto& format : kFormats) {
        if (std::strcmp(text, format.name) == 0) {
            p->pixfmt = format.fourcc;
            return;
        }
    }
    error(1, 0, "unsupported pixel format: %s", text);
}

void apply_option(int code, const char* arg, const char* program_path, capture_params* p) {
    switch (code) {
        case OPT_HELP:
            capture_usage(program_path);
        case OPT_QUIET:
            p->quiet = 1;
            break;
        case OPT_SCROLL:
            p->scroll = 1;
            break;
        case OPT_CROP:
            parse_crop(arg, p);
            break;
        case OPT_ROTATE:
            p->rotate = std::atoi(arg);
            break;
        case OPT_FPS:
            parse_fps(arg, p);
            break;
        case OPT_FORMAT:
            parse_format(arg, p);
            break;
        case OPT_QSCALE:
            p->qscale = std::atoi(arg);
            break;
        case OPT_AE:
            p->ae = std::atoi(arg) != 0;
            break;
        case OPT_AWB:
            p->awb = std::atoi(arg) != 0;
            break;
        case OPT_COUNT:
            p->count = std::atoi(arg);
            break;
        case OPT_SKIP:
            p->skip = std::atoi(arg);
            break;
        case OPT_OUT:
            p->out = arg;
            break;
        case OPT_PIPE:
            p->pipe = arg;
            break;
        case OPT_POLL:
            p->poll = 1;
            break;
        case OPT_BUFS:
            p->bufs = std::atoi(arg);
            break;
        case OPT_DELAY:
            p->delay = std::atoi(arg);
            break;
        case OPT_MJPEG_HTTP:
            p->mjpeg_http = arg;
            break;
        case OPT_EARLY_QBUF:
            p->early_qbuf = 1;
            break;
        default:  // getopt has printed its own diagnostic
            error(1, 0, "option parsing failed");
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

void parse_capture_params(int argc, char* argv[], capture_params* p) {
    if (argc < 3) {
        capture_usage(argv[0]);
    }
    int code;
    while ((code = getopt_long_only(argc, argv, "", kOptions, nullptr)) != -1) {
        apply_option(code, optarg, argv[0], p);
    }

    if (p->skip < 1) {
        p->skip = 1;
    }
    if (p->mjpeg_http != nullptr) {
        if (p->pixfmt != V4L2_PIX_FMT_JPEG) {
            error(1, 0, "-mjpeg-http requires -format jpeg");
        }
        if (p->pipe != nullptr) {
            error(1, 0, "-mjpeg-http is not compatible with -pipe");
        }
    }
    if (optind != argc - 2) {
        error(1, 0, "width, height parameters missing");
    }
    p->width = static_cast<uint32_t>(std::atoi(argv[optind]));
    p->height = static_cast<uint32_t>(std::atoi(argv[optind + 1]));
}
