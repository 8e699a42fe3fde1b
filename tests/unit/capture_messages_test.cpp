// SPDX-License-Identifier: MIT
// vshare's reading of vcapture's messages: which lines report a dropped
// frame and why, which say why vcapture failed, and lines that arrive in
// pieces.
#include "capture_messages.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace {

struct line_case {
    const char* line;
    uint64_t drops;
    const char* drop;     // why the frame was dropped
    const char* message;  // the last other line, without the program's name
};

constexpr line_case kLines[] = {
    {"vcapture:  seq:    12, JPEG frame size  1234 < 5000, skip frame", 1,
     "JPEG frame size  1234 < 5000", ""},
    {" seq:     3, bytesused == 0, skip frame", 1, "bytesused == 0", ""},
    {" seq:     3, skip frame", 1, "", ""},
    {"vcapture:  seq:     7, No start frame JPEG marker found, skip frame\r", 1,
     "No start frame JPEG marker found", ""},
    {"vcapture: Can't open device /dev/v4l/video0: No such device", 0, "",
     "Can't open device /dev/v4l/video0: No such device"},
    {"/usr/bin/vcapture: VIDIOC_REQBUFS: Device or resource busy", 0, "",
     "VIDIOC_REQBUFS: Device or resource busy"},
    {"a line of two words: kept whole", 0, "", "a line of two words: kept whole"},
    {"   ", 0, "", ""},
};

class MessageLine : public testing::TestWithParam<line_case> {};

TEST_P(MessageLine, IsSortedAsVcaptureMeantIt) {
    const line_case& each = GetParam();
    capture_messages said;
    said.restart(true);
    said.take_line(each.line);
    EXPECT_EQ(said.drops(), each.drops);
    EXPECT_EQ(said.last_drop(), each.drop);
    EXPECT_EQ(said.last_message(), each.message);
}

INSTANTIATE_TEST_SUITE_P(Lines, MessageLine, testing::ValuesIn(kLines),
                         [](const testing::TestParamInfo<line_case>& param) {
                             return "line" + std::to_string(param.index);
                         });

TEST(CaptureMessages, LinesInPiecesAndALastOneWithoutItsEnd) {
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_NONBLOCK), 0);
    capture_messages said;
    said.restart(true);
    const std::string first = "vcapture: Starting ...\nvcapture: Can't op";
    ASSERT_EQ(write(ends[1], first.data(), first.size()), static_cast<ssize_t>(first.size()));
    EXPECT_TRUE(said.take(ends[0]));
    EXPECT_EQ(said.last_message(), "Starting ...");
    const std::string rest = "en device\n seq: 1, bytesused == 0, skip frame\nvcapture: bye";
    ASSERT_EQ(write(ends[1], rest.data(), rest.size()), static_cast<ssize_t>(rest.size()));
    close(ends[1]);
    EXPECT_FALSE(said.take(ends[0]));  // its end, and the last line with it
    close(ends[0]);
    EXPECT_EQ(said.last_message(), "bye");
    EXPECT_EQ(said.drops(), 1U);
    said.restart(true);
    EXPECT_EQ(said.drops(), 0U);
    EXPECT_EQ(said.last_message(), "");
}

}  // namespace
