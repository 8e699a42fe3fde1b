// SPDX-License-Identifier: MIT
// The hand-off channel: creating and reusing the peer's named pipe, refusing
// what is not a pipe, and the one-byte messages with their reports.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>

#include "named_pipe.h"

namespace {

std::string report(const std::string& message) {
    return std::string(program_invocation_name) + ": " + message + "\n";
}

class NamedPipe : public testing::Test {
  protected:
    std::filesystem::path dir_ =
        std::filesystem::temp_directory_path() / ("pipe-test-" + std::to_string(getpid()));
    std::string base_ = (dir_ / "peer").string();
    void SetUp() override { std::filesystem::create_directories(dir_); }
    void TearDown() override { std::filesystem::remove_all(dir_); }
};

TEST_F(NamedPipe, CreatedWithMode0660AndOpenedWithoutAPeer) {
    const mode_t old = umask(0);
    const int fd = named_pipe_open(base_.c_str(), "_r");
    umask(old);
    struct stat st {};
    ASSERT_EQ(stat((base_ + "_r").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0660u);
    // Opened read-write: our own write end is there, the read gets the byte.
    EXPECT_EQ(pipe_write_byte(fd, 0x41), 0);
    EXPECT_EQ(pipe_read_byte(fd), 0x41);
    close(fd);
}

TEST_F(NamedPipe, AnEarlierRunsPipeIsReused) {
    ASSERT_EQ(mkfifo((base_ + "_r").c_str(), 0600), 0);
    const int fd = named_pipe_open(base_.c_str(), "_r");
    EXPECT_GE(fd, 0);
    close(fd);
}

TEST_F(NamedPipe, AnswersAnEarlierRunsPeerLeftAreEmptied) {
    ASSERT_EQ(mkfifo((base_ + "_r").c_str(), 0600), 0);
    // The earlier peer still holds the pipe, so what it wrote late stays in it.
    const int earlier_peer = open((base_ + "_r").c_str(), O_RDWR);
    const std::string late(100, '\0');
    ASSERT_EQ(write(earlier_peer, late.data(), late.size()), 100);
    const int fd = named_pipe_open(base_.c_str(), "_r");
    const uint8_t fresh = 0x01;
    ASSERT_EQ(write(earlier_peer, &fresh, 1), 1);
    EXPECT_EQ(pipe_read_byte(fd), 0x01);
    close(earlier_peer);
    close(fd);
}

TEST_F(NamedPipe, BytesFromThePeerArriveInOrder) {
    const int fd = named_pipe_open(base_.c_str(), "_r");
    const int peer = open((base_ + "_r").c_str(), O_WRONLY);
    for (const uint8_t byte : std::initializer_list<uint8_t>{0x00, 0x01, 0x40, 0xFF}) {
        ASSERT_EQ(write(peer, &byte, 1), 1);
    }
    EXPECT_EQ(pipe_read_byte(fd), 0x00);
    EXPECT_EQ(pipe_read_byte(fd), 0x01);
    EXPECT_EQ(pipe_read_byte(fd), 0x40);
    EXPECT_EQ(pipe_read_byte(fd), 0xFF);
    close(peer);
    close(fd);
}

TEST_F(NamedPipe, ARegularFileIsNotThePeersPipe) {
    std::ofstream(base_ + "_r") << "not a pipe";
    EXPECT_EXIT(named_pipe_open(base_.c_str(), "_r"), testing::ExitedWithCode(1),
                "Can't open named pipe " + base_ + "_r: File exists\n$");
}

TEST_F(NamedPipe, ADirectoryIsNotThePeersPipe) {
    std::filesystem::create_directory(base_ + "_r");
    EXPECT_EXIT(named_pipe_open(base_.c_str(), "_r"), testing::ExitedWithCode(1),
                "Can't open named pipe " + base_ + "_r: Is a directory\n$");
}

TEST_F(NamedPipe, UncreatablePipe) {
    const std::string base = (dir_ / "missing" / "peer").string();
    EXPECT_EXIT(named_pipe_open(base.c_str(), "_r"), testing::ExitedWithCode(1),
                "Can't create named pipe " + base + "_r: No such file or directory\n$");
}

TEST(PipeBytes, ReadOfAClosedPipe) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[1]);
    testing::internal::CaptureStderr();
    EXPECT_EQ(pipe_read_byte(fds[0]), -EPIPE);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), report("input pipe closed"));
    close(fds[0]);
}

TEST(PipeBytes, ReadFailureCarriesItsErrno) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(pipe_read_byte(-1), -EBADF);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              report("can't read from pipe: Bad file descriptor"));
}

TEST(PipeBytes, WriteToAGoneReader) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    signal(SIGPIPE, SIG_IGN);
    testing::internal::CaptureStderr();
    EXPECT_EQ(pipe_write_byte(fds[1], 0x80), -EPIPE);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), report("can't write to pipe: Broken pipe"));
    signal(SIGPIPE, SIG_DFL);
    close(fds[1]);
}

// The peer's answer pipe and its input (vcapture's standard output).
class PeerAnswer : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(pipe(answers_), 0);
        ASSERT_EQ(pipe(requests_), 0);
    }
    void TearDown() override {
        for (const int fd : {answers_[0], answers_[1], requests_[0], requests_[1]}) {
            close(fd);
        }
    }
    int answers_[2];
    int requests_[2];
};

TEST_F(PeerAnswer, TheAnswerIsRead) {
    const uint8_t byte = 0x03;
    ASSERT_EQ(write(answers_[1], &byte, 1), 1);
    EXPECT_EQ(pipe_read_answer(answers_[0], requests_[1]), 0x03);
}

TEST_F(PeerAnswer, APeerThatClosedItsInputWillNotAnswer) {
    close(requests_[0]);
    requests_[0] = -1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(pipe_read_answer(answers_[0], requests_[1]), -EPIPE);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), report("output pipe closed"));
}

TEST_F(PeerAnswer, AnAnswerGivenBeforeThePeerLeftIsStillTaken) {
    const uint8_t byte = 0x40;
    ASSERT_EQ(write(answers_[1], &byte, 1), 1);
    close(requests_[0]);
    requests_[0] = -1;
    EXPECT_EQ(pipe_read_answer(answers_[0], requests_[1]), 0x40);
}

TEST(PipeBytes, WrittenByteIsExactlyOneByte) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    EXPECT_EQ(pipe_write_byte(fds[1], 0x81), 0);
    close(fds[1]);
    uint8_t buffer[4];
    EXPECT_EQ(read(fds[0], buffer, sizeof buffer), 1);
    EXPECT_EQ(buffer[0], 0x81);
    close(fds[0]);
}

}  // namespace
