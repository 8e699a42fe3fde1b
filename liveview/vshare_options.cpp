// SPDX-License-Identifier: MIT
#include "vshare_options.h"

#include <error.h>
#include <getopt.h>
#include <libgen.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "camboard_version.h"
#include "tcp_listener.h"

namespace {

enum option_code : int {
    kSocket = 1,
    kVcapture,
    kDevice,
    kSize,
    kFps,
    kQscale,
    kLinger,
    kDrop,
    kListen,
    kWww,
    kUsers,
    kNoAuth,
    kRelay,
    kSnapshot,
    kPasswd,
    kHelp,
    kVersion,
};

constexpr option kLongOptions[] = {
    {"socket", required_argument, nullptr, kSocket},
    {"vcapture", required_argument, nullptr, kVcapture},
    {"device", required_argument, nullptr, kDevice},
    {"size", required_argument, nullptr, kSize},
    {"fps", required_argument, nullptr, kFps},
    {"qscale", required_argument, nullptr, kQscale},
    {"linger", required_argument, nullptr, kLinger},
    {"drop", required_argument, nullptr, kDrop},
    {"listen", required_argument, nullptr, kListen},
    {"www", required_argument, nullptr, kWww},
    {"users", required_argument, nullptr, kUsers},
    {"no-auth", no_argument, nullptr, kNoAuth},
    {"relay", no_argument, nullptr, kRelay},
    {"snapshot", no_argument, nullptr, kSnapshot},
    {"passwd", required_argument, nullptr, kPasswd},
    {"help", no_argument, nullptr, kHelp},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
};

// A whole decimal number from `low` to `high`; refusals are reported.
bool parse_unsigned(const char* name, const char* text, unsigned low, unsigned high,
                    unsigned* value) {
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || number < static_cast<long>(low) ||
        number > static_cast<long>(high)) {
        error(0, 0, "-%s: expected a number from %u to %u, not '%s'", name, low, high, text);
        return false;
    }
    *value = static_cast<unsigned>(number);
    return true;
}

// Seconds, fractions allowed, as milliseconds; from `low_ms` to a day.
bool parse_seconds(const char* name, const char* text, int64_t low_ms, int64_t* ms) {
    constexpr double kDay = 86400;
    char* end = nullptr;
    errno = 0;
    const double seconds = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !std::isfinite(seconds) ||
        seconds * 1000 < static_cast<double>(low_ms) || seconds > kDay) {
        error(0, 0, "-%s: expected seconds from %g to %g, not '%s'", name,
              static_cast<double>(low_ms) / 1000, kDay, text);
        return false;
    }
    *ms = std::llround(seconds * 1000);
    return true;
}

// -size takes two words: the width is getopt's argument, the height the
// word after it.
bool parse_size(int argc, char* argv[], const char* width, vshare_options* options) {
    if (optind >= argc) {
        error(0, 0, "-size: expected a width and a height");
        return false;
    }
    const char* height = argv[optind++];
    return parse_unsigned("size", width, 32, 1600, &options->width) &&
           parse_unsigned("size", height, 16, 1200, &options->height);
}

bool parse_listen(const char* text, vshare_options* options) {
    sockaddr_storage address{};
    socklen_t length = 0;
    if (!parse_listen_address(text, &address, &length)) {
        error(0, 0, "-listen: expected [ADDRESS]:PORT, not '%s'", text);
        return false;
    }
    options->listen = text;
    return true;
}

// Applies one option; false when it was refused.
bool apply(int code, int argc, char* argv[], vshare_options* options) {
    switch (code) {
        case kSocket:
            options->socket = optarg;
            options->socket_given = true;
            return true;
        case kVcapture:
            options->vcapture = optarg;
            return true;
        case kDevice:
            options->device = optarg;
            return true;
        case kSize:
            return parse_size(argc, argv, optarg, options);
        case kFps:
            return parse_unsigned("fps", optarg, 1, 60, &options->fps);
        case kQscale:
            return parse_unsigned("qscale", optarg, 1, 100, &options->qscale);
        case kLinger:
            return parse_seconds("linger", optarg, 0, &options->linger_ms);
        case kDrop:
            return parse_seconds("drop", optarg, 100, &options->drop_ms);
        case kListen:
            return parse_listen(optarg, options);
        case kWww:
            options->www = optarg;
            return true;
        case kUsers:
            options->users = optarg;
            return true;
        case kNoAuth:
            options->no_auth = true;
            return true;
        case kRelay:
            options->mode = vshare_mode::relay;
            return true;
        case kSnapshot:
            options->snapshot = true;
            return true;
        case kPasswd:
            options->passwd_user = optarg;
            return true;
        default:
            return false;  // getopt has said what was wrong
    }
}

bool is_server_option(int code) {
    return code >= kVcapture && code <= kNoAuth;
}

// -passwd takes only the file it writes.
bool check_passwd(vshare_options* options, int other_option) {
    if (options->mode == vshare_mode::relay || options->snapshot) {
        error(0, 0, "-%s is not an option of -passwd", options->snapshot ? "snapshot" : "relay");
        return false;
    }
    if (other_option != 0) {
        error(0, 0, "-%s is not an option of -passwd", kLongOptions[other_option - 1].name);
        return false;
    }
    options->mode = vshare_mode::passwd;
    return true;
}

// The combinations the modes allow.
bool check_mode(vshare_options* options, int server_option, int other_option) {
    if (options->passwd_user != nullptr) {
        return check_passwd(options, other_option);
    }
    const vshare_options& given = *options;
    if (given.mode == vshare_mode::relay && server_option != 0) {
        error(0, 0, "-%s is not an option of -relay", kLongOptions[server_option - 1].name);
        return false;
    }
    if (given.mode == vshare_mode::server && given.snapshot) {
        error(0, 0, "-snapshot needs -relay");
        return false;
    }
    return true;
}

}  // namespace

parse_outcome parse_vshare_options(int argc, char* argv[], vshare_options* options) {
    int server_option = 0;  // the first server option given, for -relay's refusal
    int other_option = 0;   // the first one but -users, for -passwd's
    int code = 0;
    // "+": no reordering, so that -size may take the word after its argument.
    while ((code = getopt_long_only(argc, argv, "+", kLongOptions, nullptr)) != -1) {
        if (code == kHelp) {
            return parse_outcome::help;
        }
        if (code == kVersion) {
            print_camboard_version("vshare");
            std::exit(0);
        }
        if (!apply(code, argc, argv, options)) {
            return parse_outcome::refused;
        }
        if (is_server_option(code) && server_option == 0) {
            server_option = code;
        }
        if (code != kUsers && code != kPasswd && code != kRelay && code != kSnapshot &&
            other_option == 0) {
            other_option = code;
        }
    }
    if (optind < argc) {
        error(0, 0, "unexpected argument '%s'", argv[optind]);
        return parse_outcome::refused;
    }
    return check_mode(options, server_option, other_option) ? parse_outcome::run
                                                            : parse_outcome::refused;
}

void print_vshare_usage(const char* program_path) {
    std::string path = program_path;
    const char* name = basename(path.data());
    std::printf(
        "Usage: %s [-listen [address]:port] [-socket path] [-www dir] [-users path]\n"
        "\t\t[-no-auth] [-vcapture path] [-device path] [-size width height] [-fps N]\n"
        "\t\t[-qscale N] [-linger seconds] [-drop seconds] [-help] [-version]\n"
        "       %s -relay [-snapshot] [-socket path]\n"
        "       %s -passwd user [-users path]\n",
        name, name, name);
}
