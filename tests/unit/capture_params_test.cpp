// SPDX-License-Identifier: MIT
// The command line of vcapture, mapped to its run settings or to the exact
// refusal.
#include <errno.h>
#include <getopt.h>
#include <gtest/gtest.h>

#include <list>
#include <string>
#include <vector>

#include "capture_params.h"

namespace {

struct command_line {
    std::vector<std::string> words;
    std::vector<char*> argv;

    explicit command_line(std::vector<std::string> w) : words(std::move(w)) {
        words.insert(words.begin(), "vcapture");
        for (auto& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
    }
};

capture_params parse(std::vector<std::string> words) {
    // The settings point into the argument vector, as they do in vcapture:
    // every vector lives until the tests end.
    static std::list<command_line> lines;
    command_line& line = lines.emplace_back(std::move(words));
    capture_params p;
    program_invocation_name = line.argv[0];  // error() names the program as invoked
    optind = 0;                              // a fresh scan for every command line
    parse_capture_params(static_cast<int>(line.words.size()), line.argv.data(), &p);
    return p;
}

void refuse(std::vector<std::string> words, const std::string& stderr_pattern) {
    EXPECT_EXIT(parse(words), testing::ExitedWithCode(1), stderr_pattern);
}

TEST(CaptureParams, Defaults) {
    const capture_params p = parse({"640", "480"});
    EXPECT_EQ(p.width, 640u);
    EXPECT_EQ(p.height, 480u);
    EXPECT_EQ(p.pixfmt, V4L2_PIX_FMT_YUV420);
    EXPECT_EQ(p.bufs, 2);
    EXPECT_EQ(p.count, -1);
    EXPECT_EQ(p.skip, 1);
    EXPECT_EQ(p.fps_num, 0u);
    EXPECT_EQ(p.fps_denom, 0u);
    EXPECT_EQ(p.ae, 0);
    EXPECT_EQ(p.awb, 0);
    EXPECT_EQ(p.out, nullptr);
    EXPECT_EQ(p.pipe, nullptr);
    EXPECT_EQ(p.mjpeg_http, nullptr);
    EXPECT_EQ(p.quiet + p.scroll + p.poll + p.early_qbuf + p.delay + p.qscale + p.rotate, 0);
}

TEST(CaptureParams, PositionalsAnywhereAndUniquePrefixes) {
    const capture_params p = parse({"-format", "jpeg", "640", "480", "-qs", "80"});
    EXPECT_EQ(p.pixfmt, V4L2_PIX_FMT_JPEG);
    EXPECT_EQ(p.qscale, 80);
    EXPECT_EQ(p.width, 640u);
    const capture_params q = parse({"--count=5", "320", "--bufs", "4", "240", "-sc", "-qu"});
    EXPECT_EQ(q.count, 5);
    EXPECT_EQ(q.bufs, 4);
    EXPECT_EQ(q.scroll, 1);
    EXPECT_EQ(q.quiet, 1);
    EXPECT_EQ(q.height, 240u);
    const capture_params r = parse({"-early", "-po", "-del=3", "-rot", "-90", "1", "2"});
    EXPECT_EQ(r.early_qbuf, 1);
    EXPECT_EQ(r.poll, 1);
    EXPECT_EQ(r.delay, 3);
    EXPECT_EQ(r.rotate, -90);
}

TEST(CaptureParams, NumbersAreTakenAsAtoiGivesThem) {
    const capture_params p = parse(
        {"-count", "x", "-skip", "-5", "-ae", "7", "-awb", "0", "-bufs", "3abc", "64", "480"});
    EXPECT_EQ(p.count, 0);
    EXPECT_EQ(p.skip, 1);  // below 1 becomes 1
    EXPECT_EQ(p.ae, 1);
    EXPECT_EQ(p.awb, 0);
    EXPECT_EQ(p.bufs, 3);
    EXPECT_EQ(p.width, 64u);
    EXPECT_EQ(parse({"-skip", "0", "1", "1"}).skip, 1);
    EXPECT_EQ(parse({"-skip", "3", "1", "1"}).skip, 3);
}

TEST(CaptureParams, LastValueWins) {
    const capture_params p =
        parse({"-out", "a", "-out", "b", "-format", "grey", "-format", "yuv420", "1", "2"});
    EXPECT_STREQ(p.out, "b");
    EXPECT_EQ(p.pixfmt, V4L2_PIX_FMT_YUV420);
}

TEST(CaptureParams, FrameRateForms) {
    capture_params p = parse({"-fps", "15", "1", "1"});
    EXPECT_EQ(p.fps_num, 15u);
    EXPECT_EQ(p.fps_denom, 1u);
    p = parse({"-fps=30/2", "1", "1"});
    EXPECT_EQ(p.fps_num, 30u);
    EXPECT_EQ(p.fps_denom, 2u);
    p = parse({"-fps", "25/x", "1", "1"});
    EXPECT_EQ(p.fps_denom, 1u);
    refuse({"-fps", "/2", "1", "1"}, "^vcapture: fps option parsing failed\n$");
    refuse({"-fps", "x", "1", "1"}, "^vcapture: fps option parsing failed\n$");
    refuse({"-fps", "", "1", "1"}, "^vcapture: fps option parsing failed\n$");
}

TEST(CaptureParams, CropForms) {
    capture_params p = parse({"-crop", "320,240,16,8", "-crop", "100,50", "1", "1"});
    EXPECT_EQ(p.crop[0], 100u);
    EXPECT_EQ(p.crop[1], 50u);
    EXPECT_EQ(p.crop[2], 16u);  // x and y kept from the earlier crop
    EXPECT_EQ(p.crop[3], 8u);
    for (const char* bad : {"320", "1,2,3", "a,b", ",5", "1,2,3,4,5", "1,2x", "1,-2", ""}) {
        refuse(
            {"-crop", bad, "1", "1"},
            std::string("^vcapture: crop option parsing failed: expected w,h or w,h,x,y, not '") +
                bad + "'\n$");
    }
}

TEST(CaptureParams, FormatWords) {
    EXPECT_EQ(parse({"-format", "grey", "1", "1"}).pixfmt, V4L2_PIX_FMT_GREY);
    EXPECT_EQ(parse({"-format", "jpeg", "1", "1"}).pixfmt, V4L2_PIX_FMT_JPEG);
    refuse({"-format", "JPEG", "1", "1"}, "^vcapture: unsupported pixel format: JPEG\n$");
    refuse({"-format", "mjpeg", "1", "1"}, "^vcapture: unsupported pixel format: mjpeg\n$");
}

TEST(CaptureParams, OptionErrorsFollowGetoptsOwnDiagnostic) {
    refuse({"-q", "1", "1"},
           "^vcapture: option '-q' is ambiguous.*\nvcapture: option parsing failed\n$");
    refuse({"-bogus", "1", "1"},
           "unrecognized option '-bogus'\nvcapture: option parsing failed\n$");
    refuse({"1", "1", "-count"},
           "option '-count' requires an argument\nvcapture: option parsing failed\n$");
    refuse({"-quiet=1", "1", "1"}, "doesn't allow an argument\nvcapture: option parsing failed\n$");
}

TEST(CaptureParams, ChecksAfterParsingInTheirOrder) {
    refuse({"-mjpeg-http", "b", "-format", "grey", "-pipe", "p", "1"},
           "^vcapture: -mjpeg-http requires -format jpeg\n$");
    refuse({"-mjpeg-http", "b", "-format", "jpeg", "-pipe", "p", "640", "480"},
           "^vcapture: -mjpeg-http is not compatible with -pipe\n$");
    refuse({"-mjpeg-http", "b", "-format", "jpeg", "-pipe", "p", "640"},
           "^vcapture: -mjpeg-http is not compatible with -pipe\n$");
    refuse({"640", "480", "100"}, "^vcapture: width, height parameters missing\n$");
    refuse({"-quiet", "640"}, "^vcapture: width, height parameters missing\n$");
}

TEST(CaptureParams, MjpegWithJpegIsAccepted) {
    const capture_params p = parse({"-mjpeg", "frame", "-format", "jpeg", "-out", "-", "1", "1"});
    EXPECT_STREQ(p.mjpeg_http, "frame");
    EXPECT_STREQ(p.out, "-");
}

}  // namespace
