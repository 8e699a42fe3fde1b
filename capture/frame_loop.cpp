#include "frame_loop.h"

#include <error.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "frame_stats.h"
#include "jpeg_marker.h"
#include "multipart.h"
#include "named_pipe.h"
#include "sensor_device.h"
#include "stop_grace.h"
#include "xalloc.h"

namespace {

volatile sig_atomic_t stop_requested = 0;
volatile sig_atomic_t stop_signal = 0;
int error_count = 0;

constexpr uint32_t kMinJpegSize = 5000;

void stop_signal_handler(int sig) {
    stop_requested = 1;
    stop_signal = sig;
    stop_grace_begin();  // a write that the reader holds up is not waited for long
}

constexpr int kStopSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGTERM};

void install_stop_signals() {
    stop_grace_install();
    struct sigaction action {};
    action.sa_handler = stop_signal_handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: blocking calls return on a stop
    for (const int sig : kStopSignals) {
        if (sigaction(sig, &action, nullptr) != 0) {
            error(1, errno, "sigaction failed for %s", strsignal(sig));
        }
    }
}

int64_t now_usec() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return static_cast<int64_t>(tv.tv_sec) * 1000000 + tv.tv_usec;
}

// Waits until the device has a frame. Returns false when a stop signal
// interrupted the wait: the loop then ends in order instead of failing.
bool wait_for_frame(int fd) {
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int n = poll(&p, 1, -1);
        if (n < 0) {
            if (errno == EINTR) {
                if (stop_requested != 0) {
                    return false;
                }
                continue;
            }
            error(1, errno, "poll failed");
        }
        if (n == 0) {
            error(1, 0, "poll timeout (?)");
        }
        if (n != 1) {
            error(1, 0, "%d descriptors ready from poll, only 1 was requested", n);
        }
        if ((p.revents & POLLERR) != 0) {
            error(1, 0, "poll: POLLERR event returned");
        }
        if ((p.revents & POLLNVAL) != 0) {
            error(1, 0, "poll: POLLNVAL event returned");
        }
        if ((p.revents & POLLHUP) != 0) {
            error(1, 0, "poll: POLLHUP event returned");
        }
        if ((p.revents & POLLIN) == 0) {
            error(1, 0, "poll: no POLLIN event returned");
        }
        return true;
    }
}

class frame_loop {
  public:
    frame_loop(const capture_params& params, capture_device device, out_file* sink, int pipe_fd)
        : p_(params), dev_(device), sink_(sink), pipe_fd_(pipe_fd) {}

    void run();

  private:
    // Where the kept frame's data lies in its buffer.
    struct payload {
        const uint8_t* data;
        uint32_t size;
    };

    void drop_line(const char* text, uint32_t seq) const;
    bool keep(const kovlin_buf& e, uint32_t bytesused, uint32_t seq, payload* out);
    bool hand_off_and_output(const v4l2_buffer& rec, const payload& frame, uint32_t bytesused,
                             uint32_t seq);
    uint32_t output(const payload& frame);
    bool peer_released(uint32_t index);
    void requeue(const kovlin_buf& e, v4l2_buffer* rec) const;
    void shut_down();

    const capture_params& p_;
    bool jpeg_ = false;
    capture_device dev_;
    out_file* sink_;
    int pipe_fd_;

    char* header_ = nullptr;
    size_t header_size_ = 0;
    double size_history_[kSizeHistory];
    int hidx_ = 0;
    int64_t t_dq_ = 0;
    int64_t t_search_ = 0;
    int64_t t_prev_ = 0;
    uint64_t period_ = 0;
};

void frame_loop::drop_line(const char* text, uint32_t seq) const {
    if (p_.scroll == 0) {
        std::fputs("\n", stderr);
    }
    std::fprintf(stderr, text, static_cast<size_t>(seq));
}

// Decides whether the frame is kept and where its data lies.
bool frame_loop::keep(const kovlin_buf& e, uint32_t bytesused, uint32_t seq, payload* out) {
    const auto* start = static_cast<const uint8_t*>(e.start);
    if (!jpeg_) {
        *out = {start, bytesused};
        t_search_ = t_dq_;
        return true;
    }
    uint32_t jpeg_start = 0;
    uint32_t jpeg_size = 0;
    const jpeg_search found = find_jpeg_image(start, e.length, bytesused, &jpeg_start, &jpeg_size);
    if (found != jpeg_search::found) {
        if (p_.scroll == 0) {
            std::fputs("\n", stderr);
        }
        error(0, 0,
              found == jpeg_search::no_start
                  ? " seq: %5zu, No start frame JPEG marker found, skip frame"
                  : " seq: %5zu, No end frame JPEG marker found, skip frame",
              static_cast<size_t>(seq));
        return false;
    }
    if (jpeg_size < kMinJpegSize) {
        if (p_.scroll == 0) {
            std::fputs("\n", stderr);
        }
        error(0, 0, " seq: %5zu, JPEG frame size %5zu < 5000, skip frame", static_cast<size_t>(seq),
              static_cast<size_t>(jpeg_size));
        return false;
    }
    *out = {start + jpeg_start, jpeg_size};
    t_search_ = now_usec();
    return true;
}

void frame_loop::requeue(const kovlin_buf& e, v4l2_buffer* rec) const {
    std::memset(e.start, 0, e.length);
    if (xioctl(dev_.fd, VIDIOC_QBUF, rec) < 0) {
        error(1, errno, "enqueue buffer %u failed", rec->index);
    }
}

void frame_loop::run() {
    install_stop_signals();
    jpeg_ = p_.pixfmt == V4L2_PIX_FMT_JPEG;
    if (p_.mjpeg_http != nullptr) {
        header_size_ = part_header_buffer_size(p_.mjpeg_http);
        header_ = static_cast<char*>(xmalloc(header_size_));
    }
    for (double& size : size_history_) {
        size = NAN;
    }
    error(0, 0, "Main frames loop ...");

    uint32_t counter = 0;
    int count = p_.count;
    v4l2_buffer rec;
    for (;;) {
        if (stop_requested != 0 || error_count != 0) {
            break;
        }
        if (count >= 0 && count-- == 0) {
            break;  // a negative count never runs out
        }
        if (p_.poll != 0 && !wait_for_frame(dev_.fd)) {
            break;
        }
        std::memset(&rec, 0, sizeof rec);
        rec.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        rec.memory = V4L2_MEMORY_MMAP;
        if (xioctl(dev_.fd, VIDIOC_DQBUF, &rec) < 0) {
            error(1, errno, "dequeue buffer %u failed", counter);
        }
        t_dq_ = now_usec();
        kovlin_buf* e = kovlin_bufs_at(dev_.table, rec.index);
        if (p_.early_qbuf != 0 && xioctl(dev_.fd, VIDIOC_QBUF, &rec) < 0) {
            error(1, errno, "enqueue buffer %u failed", rec.index);
        }
        const uint32_t seq = rec.sequence != 0 ? rec.sequence : counter;
        // A driver that claims more than the buffer holds is not followed past it.
        const uint32_t bytesused = rec.bytesused < e->length ? rec.bytesused : e->length;

        payload frame{};
        bool kept = false;
        if (counter % static_cast<uint32_t>(p_.skip) != 0) {
            drop_line(" seq: %5zu, skip frame\n", seq);
        } else if (bytesused == 0) {
            drop_line(" seq: %5zu, bytesused == 0, skip frame\n", seq);
        } else {
            kept = keep(*e, bytesused, seq, &frame);
        }
        if (kept && !hand_off_and_output(rec, frame, bytesused, seq)) {
            break;  // the peer has the buffer, or a stop came instead of it
        }
        if (p_.early_qbuf == 0) {
            requeue(*e, &rec);
        }
        ++counter;
    }
    shut_down();
}

// Steps of a kept frame, from the delay to the peer's answer. Returns false
// when the loop must end at once, without re-queueing the buffer.
bool frame_loop::hand_off_and_output(const v4l2_buffer& rec, const payload& frame,
                                     uint32_t bytesused, uint32_t seq) {
    for (unsigned i = 0; i < static_cast<unsigned>(p_.delay); ++i) {
        sched_yield();
    }
    if (pipe_fd_ >= 0) {
        if (pipe_write_byte(1, static_cast<uint8_t>(rec.index & 0xFF)) < 0) {
            ++error_count;
            return false;
        }
        sched_yield();  // let the peer run
    }

    const uint32_t len = output(frame);
    size_history_[hidx_] = len;
    const int64_t t_sent = now_usec();
    hidx_ = (hidx_ + 1) % kSizeHistory;

    if (p_.quiet == 0) {
        if (t_prev_ != 0) {
            period_ = static_cast<uint64_t>(t_dq_ - t_prev_);
        }
        if (p_.scroll == 0) {
            std::fputs("\r", stderr);
        }
        const frame_stats stats{rec.index,
                                seq,
                                p_.mjpeg_http != nullptr ? frame.size : bytesused,
                                period_,
                                static_cast<uint64_t>(t_search_ - t_dq_),
                                static_cast<uint64_t>(t_sent - t_search_),
                                len,
                                size_history_};
        print_frame_stats(stderr, stats);
        if (p_.scroll != 0) {
            std::fputs("\n", stderr);
        } else {
            std::fflush(stderr);
        }
        t_prev_ = t_dq_;
    }

    return pipe_fd_ < 0 || peer_released(rec.index);
}

// Writes the kept frame to the sink; returns the number of bytes that count
// as passed on. Every piece is written and counted on its own, also after a
// failed one: each failure is reported, and the loop ends after the frame.
uint32_t frame_loop::output(const payload& frame) {
    uint32_t len = 0;
    if (sink_ != nullptr && p_.mjpeg_http != nullptr) {
        const size_t n =
            format_part_header(header_, header_size_, p_.mjpeg_http, frame.size, t_dq_);
        error_count += out_file_write(sink_, header_, n);
        len = static_cast<uint32_t>(n);
    }
    error_count += out_file_write(sink_, frame.data, frame.size);
    if (p_.mjpeg_http != nullptr) {
        error_count += out_file_write(sink_, "\r\n", 2);
    }
    // Without a sink nothing is written, but the frame's bytes still count.
    return len + frame.size + (p_.mjpeg_http != nullptr ? 2 : 0);
}

// Waits for the peer to give buffer `index` back. Returns false when the
// loop must end at once: a stop byte, or the answer could not be had.
bool frame_loop::peer_released(uint32_t index) {
    const int answer = pipe_read_answer(pipe_fd_, 1);
    if (answer < 0) {
        ++error_count;
        return false;
    }
    if ((answer & PIPE_STOP) != 0) {
        stop_requested = 1;
        return false;
    }
    if (static_cast<uint32_t>(answer) != (index & 0xFF)) {
        error(1, 0, "wrong buf index %u from in pipe", index);
    }
    return true;
}

void frame_loop::shut_down() {
    if (p_.scroll == 0) {
        std::fputs("\n", stderr);
    }
    if (error_count != 0) {
        error(0, 0, "Error happened, stop");
    }
    if (stop_requested != 0) {
        error(0, 0, "Stop signal '%s' received", strsignal(stop_signal));
    }
    capture_device_teardown(dev_);
    if (p_.mjpeg_http != nullptr) {
        const size_t n = format_closing_boundary(header_, header_size_, p_.mjpeg_http);
        out_file_write(sink_, header_, n);  // not counted: the run is over
    }
    kovlin_bufs_free(dev_.table);
    close(dev_.fd);
    out_file_close(sink_);
    std::free(header_);
    stop_grace_end();
}

}  // namespace

void run_frame_loop(const capture_params& params, capture_device device, out_file* sink,
                    int pipe_fd) {
    frame_loop loop(params, device, sink, pipe_fd);
    loop.run();
}
