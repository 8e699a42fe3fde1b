// SPDX-License-Identifier: MIT
// The output sink and its complete-write loop, with write(), poll(),
// sched_yield() and the clock replaced at link time (--wrap) so that every
// piece, every EAGAIN, every wait, every yield and the time a stop allows are
// under the test's control.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>

#include "multipart.h"
#include "out_file.h"
#include "stop_grace.h"

extern "C" ssize_t __real_write(int fd, const void* data, size_t n);
extern "C" int __real_sched_yield();
extern "C" int __real_poll(pollfd* fds, nfds_t n, int timeout);
extern "C" int __real_clock_gettime(clockid_t clock, timespec* ts);

namespace {

// The scripted descriptor: each write() on it takes the next step, a piece
// size (at most what was asked) or a negative errno; each poll() of it for
// POLLOUT takes the next poll step, 0 (ready) or a negative errno.
constexpr int kScriptedFd = 1000;
std::deque<long> g_steps;
std::deque<int> g_poll_steps;
std::string g_written;
// The monotonic clock while recording: a write or wait that ends with EINTR
// stands for a call that was blocked until a signal, and takes this long.
int64_t g_now_usec = 0;
constexpr int64_t kBlockedUsec = 400000;
// "w" for each write accepted, "e" for each refused, "p" for each wait,
// "y" for each yield. A fixed buffer: the sanitizers' runtime yields too,
// with its allocator locked.
char g_events[64];
size_t g_event_count = 0;
bool g_recording = false;

void record(char event) {
    if (g_event_count < sizeof g_events - 1) {
        g_events[g_event_count++] = event;
        g_events[g_event_count] = '\0';
    }
}

}  // namespace

extern "C" ssize_t __wrap_write(int fd, const void* data, size_t n) {
    if (fd != kScriptedFd) {
        return __real_write(fd, data, n);
    }
    long step = static_cast<long>(n);
    if (!g_steps.empty()) {
        step = g_steps.front();
        g_steps.pop_front();
    }
    if (step < 0) {
        record('e');
        if (step == -EINTR) {
            g_now_usec += kBlockedUsec;
        }
        errno = static_cast<int>(-step);
        return -1;
    }
    const size_t taken = std::min(static_cast<size_t>(step), n);
    g_written.append(static_cast<const char*>(data), taken);
    record('w');
    return static_cast<ssize_t>(taken);
}

extern "C" int __wrap_poll(pollfd* fds, nfds_t n, int timeout) {
    if (n != 1 || fds[0].fd != kScriptedFd) {
        return __real_poll(fds, n, timeout);
    }
    record('p');
    EXPECT_EQ(fds[0].events, POLLOUT);
    EXPECT_EQ(timeout, -1);  // waits as long as it takes, no polling loop
    const int step = g_poll_steps.empty() ? 0 : g_poll_steps.front();
    if (!g_poll_steps.empty()) {
        g_poll_steps.pop_front();
    }
    if (step < 0) {
        if (step == -EINTR) {
            g_now_usec += kBlockedUsec;
        }
        errno = -step;
        return -1;
    }
    fds[0].revents = POLLOUT;
    return 1;
}

extern "C" int __wrap_clock_gettime(clockid_t clock, timespec* ts) {
    if (!g_recording || clock != CLOCK_MONOTONIC) {
        return __real_clock_gettime(clock, ts);
    }
    ts->tv_sec = static_cast<time_t>(g_now_usec / 1000000);
    ts->tv_nsec = static_cast<long>(g_now_usec % 1000000 * 1000);
    return 0;
}

extern "C" int __wrap_sched_yield() {
    if (!g_recording) {
        return __real_sched_yield();
    }
    record('y');
    return 0;
}

namespace {

class WriteAll : public testing::Test {
  protected:
    void SetUp() override {
        g_steps.clear();
        g_poll_steps.clear();
        g_now_usec = 5000000;
        g_written.clear();
        g_event_count = 0;
        g_events[0] = '\0';
        g_recording = true;
    }
    void TearDown() override {
        stop_grace_end();
        g_recording = false;
    }
    // As the stop-signal handler does it.
    static void stop_signal_arrives() {
        stop_grace_install();
        stop_grace_begin();
    }
    const std::string data_ = std::string(100, 'a') + std::string(100, 'b');
};

TEST_F(WriteAll, OnePieceNoYield) {
    EXPECT_EQ(write_all(kScriptedFd, data_.data(), data_.size()), 0);
    EXPECT_EQ(g_written, data_);
    EXPECT_STREQ(g_events, "w");
}

TEST_F(WriteAll, ThreePiecesTwoYields) {
    g_steps = {50, 70, 80};
    EXPECT_EQ(write_all(kScriptedFd, data_.data(), data_.size()), 0);
    EXPECT_EQ(g_written, data_);
    EXPECT_STREQ(g_events, "wwywy");
}

TEST_F(WriteAll, EagainWaitsUntilWritableThenWritesWithoutYielding) {
    g_steps = {-EAGAIN, -EAGAIN, 120, -EAGAIN, 80};
    EXPECT_EQ(write_all(kScriptedFd, data_.data(), data_.size()), 0);
    EXPECT_EQ(g_written, data_);
    EXPECT_STREQ(g_events, "epepwepwy");
}

TEST_F(WriteAll, AfterAStopAnInterruptedWriteGoesOnWhileTheReaderTakesBytes) {
    stop_signal_arrives();
    // Blocked 0.8 s, then 40 bytes move; blocked 0.4 s more: never a whole
    // second without progress.
    g_steps = {60, -EINTR, -EINTR, 40, -EINTR, 100};
    EXPECT_EQ(write_all(kScriptedFd, data_.data(), data_.size()), 0);
    EXPECT_EQ(g_written, data_);
    EXPECT_STREQ(g_events, "weewyewy");
}

TEST_F(WriteAll, AfterAStopAWriteThatMovesNothingForASecondIsGivenUp) {
    stop_signal_arrives();
    g_steps = {50, -EINTR, -EINTR, -EINTR, 150};
    EXPECT_EQ(write_all(kScriptedFd, data_.data(), data_.size()), -1);
    EXPECT_EQ(errno, EINTR);
    EXPECT_EQ(g_written, data_.substr(0, 50));
    EXPECT_STREQ(g_events, "weee");
}

TEST_F(WriteAll, AfterAStopAWaitForANonBlockingSinkIsGivenUpToo) {
    stop_signal_arrives();
    g_steps = {-EAGAIN, -EAGAIN};
    g_poll_steps = {-EINTR, 0, -EINTR, -EINTR};
    EXPECT_EQ(write_all(kScriptedFd, data_.data(), data_.size()), -1);
    EXPECT_EQ(errno, EINTR);
    EXPECT_STREQ(g_events, "eppepp");
}

TEST_F(WriteAll, AnyOtherErrorEndsTheCallEvenEintr) {
    g_steps = {60, -EINTR};
    EXPECT_EQ(write_all(kScriptedFd, data_.data(), data_.size()), -1);
    EXPECT_EQ(errno, EINTR);
    EXPECT_EQ(g_written, data_.substr(0, 60));  // what was written stays written
    g_steps = {-EPIPE};
    EXPECT_EQ(write_all(kScriptedFd, data_.data(), data_.size()), -1);
    EXPECT_EQ(errno, EPIPE);
}

TEST_F(WriteAll, EmptyWriteIsStillIssued) {
    EXPECT_EQ(write_all(kScriptedFd, "", 0), 0);
    EXPECT_STREQ(g_events, "w");
}

TEST_F(WriteAll, SinkReportsAFailedWriteAndGoesOn) {
    out_file sink{const_cast<char*>("camera.out"), kScriptedFd};
    g_steps = {-ENOSPC};
    testing::internal::CaptureStderr();
    EXPECT_EQ(out_file_write(&sink, "abc", 3), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string(program_invocation_name) +
                  ": Can't write to camera.out: No space left on device\n");
    EXPECT_EQ(out_file_write(&sink, "abc", 3), 0);
    EXPECT_EQ(out_file_write(nullptr, "abc", 3), 0);  // an absent sink accepts everything
}

class Sink : public testing::Test {
  protected:
    std::filesystem::path dir_ =
        std::filesystem::temp_directory_path() / ("sink-test-" + std::to_string(getpid()));
    void SetUp() override { std::filesystem::create_directories(dir_); }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    static constexpr int kFlags =
        O_WRONLY | O_CREAT | O_NOCTTY | O_APPEND | O_LARGEFILE | O_NOATIME;
};

TEST_F(Sink, AppendsToAnExistingFileWithoutTruncating) {
    const auto path = dir_ / "frames.yuv";
    std::ofstream(path) << "earlier";
    out_file* sink = out_file_open(path.c_str(), kFlags, 0664);
    EXPECT_STREQ(sink->name, path.c_str());
    EXPECT_EQ(out_file_write(sink, "-later", 6), 0);
    out_file_close(sink);
    std::ifstream in(path);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "earlier-later");
}

TEST_F(Sink, CreatesAMissingFileWithMode0664LessTheUmask) {
    const auto path = dir_ / "new.jpg";
    const mode_t old = umask(022);
    out_file_close(out_file_open(path.c_str(), kFlags, 0664));
    umask(old);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(Sink, DashIsStandardOutput) {
    out_file* sink = out_file_open("-", kFlags, 0664);
    EXPECT_EQ(sink->fd, 1);
    EXPECT_STREQ(sink->name, "stdout");
    sink->fd = -1;  // keep the test's own standard output open
    out_file_close(sink);
}

TEST_F(Sink, UnopenablePathEndsTheProgram) {
    const auto path = dir_ / "missing" / "x";
    EXPECT_EXIT(out_file_open(path.c_str(), kFlags, 0664), testing::ExitedWithCode(1),
                "Can't open " + path.string() + ": No such file or directory\n$");
}

TEST_F(Sink, CloseFailureIsReportedByName) {
    out_file* sink = out_file_open("-", kFlags, 0664);
    sink->fd = 999;  // not open: close() fails with EBADF
    testing::internal::CaptureStderr();
    out_file_close(sink);
    EXPECT_EQ(
        testing::internal::GetCapturedStderr(),
        std::string(program_invocation_name) + ": Error closing stdout: Bad file descriptor\n");
}

TEST(Multipart, PartHeaderOfTheWorkedExample) {
    char buffer[256];
    const size_t n = format_part_header(buffer, part_header_buffer_size("frame"), "frame", 6000,
                                        INT64_C(1234567890) * 1000000 + 5);
    EXPECT_EQ(std::string(buffer, n),
              "--frame\r\nContent-Type: image/jpeg\r\nContent-Length: 6000\r\n"
              "X-Timestamp: 1234567890.5\r\n\r\n");
}

TEST(Multipart, MicrosecondsAreNotPadded) {
    char buffer[256];
    // 42 us: a six-digit padded form would show 1234567890.000042.
    const size_t n =
        format_part_header(buffer, sizeof buffer, "b", 1, INT64_C(1234567890) * 1000000 + 42);
    EXPECT_EQ(std::string(buffer, n),
              "--b\r\nContent-Type: image/jpeg\r\nContent-Length: 1\r\n"
              "X-Timestamp: 1234567890.42\r\n\r\n");
}

TEST(Multipart, TheHeaderBufferIsReservedOnlyForABoundary) {
    part_header_buffer none = reserve_part_header_buffer(nullptr);
    EXPECT_EQ(none.text, nullptr);
    EXPECT_EQ(none.size, 0u);
    release_part_header_buffer(&none);
    part_header_buffer header = reserve_part_header_buffer("frame");
    ASSERT_NE(header.text, nullptr);
    EXPECT_EQ(header.size, part_header_buffer_size("frame"));
    const size_t n = format_closing_boundary(header.text, header.size, "frame");
    EXPECT_EQ(std::string(header.text, n), "--frame--\r\n\r\n");
    release_part_header_buffer(&header);
    EXPECT_EQ(header.text, nullptr);
}

TEST(Multipart, ClosingBoundary) {
    char buffer[256];
    const size_t n = format_closing_boundary(buffer, part_header_buffer_size("frame"), "frame");
    EXPECT_EQ(std::string(buffer, n), "--frame--\r\n\r\n");
}

TEST(Multipart, TheLongestHeaderFitsItsBuffer) {
    const std::string boundary(300, 'x');
    std::string buffer(part_header_buffer_size(boundary.c_str()), '\0');
    const size_t n =
        format_part_header(buffer.data(), buffer.size(), boundary.c_str(), SIZE_MAX, INT64_MAX);
    const std::string text(buffer.data(), n);
    EXPECT_EQ(text.substr(text.size() - 4), "\r\n\r\n");  // nothing cut
    EXPECT_LT(n, buffer.size() - 1);
}

}  // namespace
