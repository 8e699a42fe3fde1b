// SPDX-License-Identifier: MIT
// The simulated driver called from two threads of one client, as GStreamer
// calls it: a dequeue that waits lets the other thread queue, stop or ask,
// and a stream with a second thread asking all along delivers every frame in
// order. Each case runs in a process of its own (a death test), so that a
// case that hangs or breaks the driver's state leaves the others alone.
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace {

constexpr auto kBound = std::chrono::seconds(10);  // a wait that never ends, on a loaded machine
constexpr unsigned kBuffers = 2;

// What a case found wrong; empty when all went right.
using outcome = std::string;

// poll() of the simulator itself, the next definition after this program's:
// a sanitizer's own poll() (ThreadSanitizer's) would hide the driver's lock
// taken beneath it and report the accesses under it as races.
int poll_device(pollfd* fds) {
    using poll_fn = int (*)(pollfd*, nfds_t, int);
    static const auto next_poll = reinterpret_cast<poll_fn>(dlsym(RTLD_NEXT, "poll"));
    return next_poll(fds, 1, 0);
}

int request(int fd, unsigned long number, void* arg) {
    return ioctl(fd, number, arg) == 0 ? 0 : -errno;
}

v4l2_buffer buffer_record(unsigned index = 0) {
    v4l2_buffer b{};
    b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    b.memory = V4L2_MEMORY_MMAP;
    b.index = index;
    return b;
}

// A device streaming 64x48 grey frames at `fps` with its buffers mapped and
// none queued; -1 on failure.
int streaming_device(unsigned fps) {
    const int fd = open("/dev/v4l/video0", O_RDWR);
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.width = 64;
    format.fmt.pix.height = 48;
    format.fmt.pix.pixelformat = V4L2_PIX_FMT_GREY;
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    parm.parm.capture.timeperframe = {1, fps};
    v4l2_requestbuffers buffers{};
    buffers.count = kBuffers;
    buffers.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffers.memory = V4L2_MEMORY_MMAP;
    if (fd < 0 || request(fd, VIDIOC_S_FMT, &format) != 0 ||
        request(fd, VIDIOC_S_PARM, &parm) != 0 || request(fd, VIDIOC_REQBUFS, &buffers) != 0) {
        return -1;
    }
    for (unsigned i = 0; i < buffers.count; ++i) {
        v4l2_buffer b = buffer_record(i);
        if (request(fd, VIDIOC_QUERYBUF, &b) != 0 ||
            mmap(nullptr, b.length, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(b.m.offset)) ==
                MAP_FAILED) {
            return -1;
        }
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    return request(fd, VIDIOC_STREAMON, &type) == 0 ? fd : -1;
}

// Ends the case's process at once: a thread that hangs cannot be joined.
[[noreturn]] void hung(const char* what) {
    std::fprintf(stderr, "%s hung\n", what);
    std::_Exit(1);
}

// The result of a dequeue started on another thread.
std::string dequeue_result(std::future<int>& dequeue) {
    if (dequeue.wait_for(kBound) != std::future_status::ready) {
        hung("DQBUF");
    }
    return std::to_string(dequeue.get());
}

outcome buffer_queued_by_the_other_thread_ends_the_wait() {
    const int fd = streaming_device(30);
    auto dequeue = std::async(std::launch::async, [fd] {
        v4l2_buffer b = buffer_record();
        return request(fd, VIDIOC_DQBUF, &b);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let it start waiting
    v4l2_buffer b = buffer_record(1);
    if (request(fd, VIDIOC_QBUF, &b) != 0) {
        return "QBUF failed";
    }
    const std::string result = dequeue_result(dequeue);
    return result == "0" ? "" : "DQBUF: " + result;
}

outcome stream_stopped_by_the_other_thread_ends_the_wait() {
    const int fd = streaming_device(30);
    auto dequeue = std::async(std::launch::async, [fd] {
        v4l2_buffer b = buffer_record();
        return request(fd, VIDIOC_DQBUF, &b);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (request(fd, VIDIOC_STREAMOFF, &type) != 0) {
        return "STREAMOFF failed";
    }
    const std::string result = dequeue_result(dequeue);
    return result == std::to_string(-EINVAL) ? "" : "DQBUF: " + result;
}

// At one frame a second the dequeue waits most of a second for its frame;
// the other thread's requests are answered meanwhile, not after it.
outcome requests_are_answered_while_a_dequeue_waits_for_its_frame() {
    const int fd = streaming_device(1);
    v4l2_buffer first = buffer_record(0);
    if (request(fd, VIDIOC_QBUF, &first) != 0) {
        return "QBUF failed";
    }
    std::atomic<bool> dequeued{false};
    auto dequeue = std::async(std::launch::async, [fd, &dequeued] {
        v4l2_buffer b = buffer_record();
        request(fd, VIDIOC_DQBUF, &b);  // frame 0 is due at once
        const int rc = request(fd, VIDIOC_QBUF, &b) == 0 ? request(fd, VIDIOC_DQBUF, &b) : -1;
        dequeued = true;
        return rc;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    v4l2_buffer queued = buffer_record(1);
    if (request(fd, VIDIOC_G_FMT, &format) != 0 || request(fd, VIDIOC_QBUF, &queued) != 0) {
        return "G_FMT or QBUF failed";
    }
    const bool answered_first = !dequeued;
    const std::string result = dequeue_result(dequeue);
    if (result != "0") {
        return "DQBUF: " + result;
    }
    return answered_first ? "" : "the requests waited for the dequeue";
}

// One thread streams, the other asks and polls all along: every frame
// arrives, in order, and every request is answered.
outcome a_stream_with_a_second_thread_asking_delivers_every_frame() {
    constexpr unsigned kFrames = 30;
    const int fd = streaming_device(30);
    for (unsigned i = 0; i < kBuffers; ++i) {
        v4l2_buffer b = buffer_record(i);
        request(fd, VIDIOC_QBUF, &b);
    }
    std::atomic<bool> done{false};
    auto asker = std::async(std::launch::async, [fd, &done] {
        int failures = 0;
        while (!done) {
            v4l2_format format{};
            format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            v4l2_buffer b = buffer_record(1);
            v4l2_control control{V4L2_CID_PRIVATE_BASE, 0};
            pollfd ready{fd, POLLIN, 0};
            failures += request(fd, VIDIOC_G_FMT, &format) != 0;
            failures += request(fd, VIDIOC_QUERYBUF, &b) != 0;
            failures += request(fd, VIDIOC_G_CTRL, &control) != 0;
            failures += poll_device(&ready) < 0;
        }
        return failures;
    });
    outcome wrong;
    int64_t last = -1;
    for (unsigned n = 0; n < kFrames && wrong.empty(); ++n) {
        v4l2_buffer b = buffer_record();
        if (request(fd, VIDIOC_DQBUF, &b) != 0 || request(fd, VIDIOC_QBUF, &b) != 0) {
            wrong = "frame " + std::to_string(n) + " failed";
        } else if (static_cast<int64_t>(b.sequence) <= last) {
            wrong = "sequence " + std::to_string(b.sequence) + " after " + std::to_string(last);
        }
        last = b.sequence;
    }
    done = true;
    if (asker.wait_for(kBound) != std::future_status::ready) {
        hung("the asking thread");
    }
    const int failures = asker.get();
    return !wrong.empty() ? wrong
           : failures > 0 ? std::to_string(failures) + " requests of the asking thread failed"
                          : "";
}

struct threads_case {
    const char* name;
    outcome (*run)();
};

constexpr threads_case kCases[] = {
    {"BufferQueuedByTheOtherThreadEndsTheWait", buffer_queued_by_the_other_thread_ends_the_wait},
    {"StreamStoppedByTheOtherThreadEndsTheWait", stream_stopped_by_the_other_thread_ends_the_wait},
    {"RequestsAreAnsweredWhileADequeueWaits",
     requests_are_answered_while_a_dequeue_waits_for_its_frame},
    {"AStreamWithASecondThreadAskingDeliversEveryFrame",
     a_stream_with_a_second_thread_asking_delivers_every_frame},
};

// The board of this test program: the simulator reads its settings once per
// process, at its first call, so the directory is named before main() runs.
// A process given a board (a case's process when death tests execute the
// program again) keeps it.
class board_directory {
  public:
    board_directory() {
        if (std::getenv("BOARDSIM_DIR") != nullptr) {
            return;
        }
        char pattern[] = "/tmp/boardsim-threads-XXXXXX";
        if (mkdtemp(pattern) != nullptr) {
            path_ = pattern;
            setenv("BOARDSIM_DIR", pattern, 1);
        }
    }
    ~board_directory() {
        if (!path_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }
    board_directory(const board_directory&) = delete;
    board_directory& operator=(const board_directory&) = delete;

  private:
    std::string path_;
};
const board_directory kBoard;

class BoardsimThreads : public testing::TestWithParam<threads_case> {};

TEST_P(BoardsimThreads, Case) {
    const threads_case& c = GetParam();
    EXPECT_EXIT(
        {
            const outcome wrong = c.run();
            std::fputs(wrong.c_str(), stderr);
            std::_Exit(wrong.empty() ? 0 : 1);
        },
        testing::ExitedWithCode(0), "^$");
}

INSTANTIATE_TEST_SUITE_P(Driver, BoardsimThreads, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<threads_case>& param) {
                             return std::string(param.param.name);
                         });

}  // namespace
