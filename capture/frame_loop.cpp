// SPDX-License-Identifier: MIT
#include "frame_loop.h"

#include <error.h>
#include <poll.h>
#include <sched.h>
#include <sys/time.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

#include "frame_stats.h"
#include "jpeg_marker.h"
#include "named_pipe.h"
#include "sensor_device.h"
#include "stop_signals.h"

namespace {

constexpr uint32_t kMinJpegSize = 5000;

// Failed output and hand-off operations of this run; any ends the loop.
int error_count = 0;

int64_t now_usec() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return static_cast<int64_t>(tv.tv_sec) * 1000000 + tv.tv_usec;
}

// A wait that poll() reported as over must have ended with input and nothing
// else; anything other than that is fatal.
void check_poll_result(int n, short revents) {
    if (n == 0) {
        error(1, 0, "poll timeout (?)");
    }
    if (n != 1) {
        error(1, 0, "%d descriptors ready from poll, only 1 was requested", n);
    }
    if ((revents & POLLERR) != 0) {
        error(1, 0, "poll: POLLERR event returned");
    }
    if ((revents & POLLNVAL) != 0) {
        error(1, 0, "poll: POLLNVAL event returned");
    }
    if ((revents & POLLHUP) != 0) {
        error(1, 0, "poll: POLLHUP event returned");
    }
    if ((revents & POLLIN) == 0) {
        error(1, 0, "poll: no POLLIN event returned");
    }
}

// Waits until the device has a frame. Returns false when a stop signal
// interrupted the wait: the loop then ends in order instead of failing.
bool wait_for_frame(int fd) {
    for (;;) {
        pollfd watch{fd, POLLIN, 0};
        const int ready = poll(&watch, 1, -1);
        if (ready >= 0) {
            check_poll_result(ready, watch.revents);
            return true;
        }
        if (errno != EINTR) {
            error(1, errno, "poll failed");
        }
        if (stop_requested != 0) {
            return false;
        }
    }
}

// Where a kept frame's data lies in its buffer, and when it was located.
struct kept_frame {
    const uint8_t* data;
    uint32_t size;
    int64_t t_search;
};

class frame_loop {
  public:
    frame_loop(const capture_params& params, const frame_loop_io& io)
        : p_(params), io_(io), count_(params.count) {}

    void run();

  private:
    bool may_go_on();
    void dequeue(uint32_t counter);
    [[nodiscard]] std::optional<kept_frame> keep_or_drop(uint32_t counter) const;
    [[nodiscard]] std::optional<kept_frame> locate_jpeg() const;
    void delay() const;
    [[nodiscard]] bool hand_off_index() const;
    uint32_t write_frame(const kept_frame& frame);
    void remember_size(uint32_t len);
    void print_statistics(const kept_frame& frame, uint32_t len, int64_t t_sent);
    [[nodiscard]] bool await_peer() const;
    void clear_and_requeue();
    void report_end() const;

    void drop_line(const char* reason) const;
    void break_status_line() const;

    const capture_params& p_;
    const frame_loop_io& io_;
    const bool jpeg_ = p_.pixfmt == V4L2_PIX_FMT_JPEG;
    int count_;  // iterations still allowed; negative: unlimited

    // The buffer of this iteration, from its dequeue to its re-queueing.
    struct {
        v4l2_buffer rec;  // the dequeue record, also the one it is queued again with
        kovlin_buf* entry;
        int64_t t_dq;
        uint32_t seq;
        uint32_t bytesused;
    } cur_{};

    double size_history_[kSizeHistory];
    int hidx_ = 0;
    int64_t t_prev_ = 0;
    uint64_t period_ = 0;
};

void frame_loop::run() {
    for (double& size : size_history_) {
        size = NAN;
    }
    error(0, 0, "Main frames loop ...");
    for (uint32_t counter = 0; may_go_on(); ++counter) {
        if (p_.poll != 0 && !wait_for_frame(io_.device.fd)) {
            break;
        }
        dequeue(counter);
        if (const std::optional<kept_frame> frame = keep_or_drop(counter)) {
            delay();
            if (!hand_off_index()) {
                break;
            }
            const uint32_t len = write_frame(*frame);
            remember_size(len);
            const int64_t t_sent = now_usec();
            print_statistics(*frame, len, t_sent);
            if (!await_peer()) {
                break;  // the peer has the buffer, or a stop came instead of it
            }
        }
        clear_and_requeue();
    }
    report_end();
}

// The loop control, checked before every iteration.
bool frame_loop::may_go_on() {
    if (stop_requested != 0 || error_count != 0) {
        return false;
    }
    return count_ < 0 || count_-- != 0;  // a negative count never runs out
}

// Takes the next filled buffer from the driver (with -early-qbuf handing it
// straight back, so that the driver may refill it while it is read).
void frame_loop::dequeue(uint32_t counter) {
    v4l2_buffer& rec = cur_.rec;
    std::memset(&rec, 0, sizeof rec);
    rec.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    rec.memory = V4L2_MEMORY_MMAP;
    if (xioctl(io_.device.fd, VIDIOC_DQBUF, &rec) < 0) {
        error(1, errno, "dequeue buffer %u failed", counter);
    }
    cur_.t_dq = now_usec();
    cur_.entry = kovlin_bufs_at(io_.device.table, rec.index);
    if (p_.early_qbuf != 0 && xioctl(io_.device.fd, VIDIOC_QBUF, &rec) < 0) {
        error(1, errno, "enqueue buffer %u failed", rec.index);
    }
    cur_.seq = rec.sequence != 0 ? rec.sequence : counter;
    // A driver that claims more than the buffer holds is not followed past it.
    cur_.bytesused = rec.bytesused < cur_.entry->length ? rec.bytesused : cur_.entry->length;
}

// Decides whether the frame is kept, and where its data lies if it is.
std::optional<kept_frame> frame_loop::keep_or_drop(uint32_t counter) const {
    if (counter % static_cast<uint32_t>(p_.skip) != 0) {
        drop_line("");
        return std::nullopt;
    }
    if (cur_.bytesused == 0) {
        drop_line("bytesused == 0, ");
        return std::nullopt;
    }
    if (jpeg_) {
        return locate_jpeg();
    }
    return kept_frame{static_cast<const uint8_t*>(cur_.entry->start), cur_.bytesused, cur_.t_dq};
}

std::optional<kept_frame> frame_loop::locate_jpeg() const {
    const auto* start = static_cast<const uint8_t*>(cur_.entry->start);
    uint32_t jpeg_start = 0;
    uint32_t jpeg_size = 0;
    const jpeg_search found =
        find_jpeg_image(start, cur_.entry->length, cur_.bytesused, &jpeg_start, &jpeg_size);
    const auto seq = static_cast<size_t>(cur_.seq);
    if (found != jpeg_search::found) {
        break_status_line();
        error(0, 0,
              found == jpeg_search::no_start
                  ? " seq: %5zu, No start frame JPEG marker found, skip frame"
                  : " seq: %5zu, No end frame JPEG marker found, skip frame",
              seq);
        return std::nullopt;
    }
    if (jpeg_size < kMinJpegSize) {
        break_status_line();
        error(0, 0, " seq: %5zu, JPEG frame size %5zu < 5000, skip frame", seq,
              static_cast<size_t>(jpeg_size));
        return std::nullopt;
    }
    return kept_frame{start + jpeg_start, jpeg_size, now_usec()};
}

void frame_loop::delay() const {
    for (unsigned i = 0; i < static_cast<unsigned>(p_.delay); ++i) {
        sched_yield();
    }
}

// Sends the buffer's index to the peer, if one is attached. Returns false
// when the send failed: the loop ends at once.
bool frame_loop::hand_off_index() const {
    if (io_.pipe_fd < 0) {
        return true;
    }
    if (pipe_write_byte(1, static_cast<uint8_t>(cur_.rec.index & 0xFF)) < 0) {
        ++error_count;
        return false;
    }
    sched_yield();  // let the peer run
    return true;
}

// Writes the kept frame to the sink; returns the number of bytes that count
// as passed on. Every piece is written and counted on its own, also after a
// failed one: each failure is reported, and the loop ends after the frame.
uint32_t frame_loop::write_frame(const kept_frame& frame) {
    const char* boundary = p_.mjpeg_http;
    uint32_t len = 0;
    if (io_.sink != nullptr && boundary != nullptr) {
        const part_header_buffer& header = io_.header;
        const size_t header_len =
            format_part_header(header.text, header.size, boundary, frame.size, cur_.t_dq);
        error_count += out_file_write(io_.sink, header.text, header_len);
        len = static_cast<uint32_t>(header_len);
    }
    error_count += out_file_write(io_.sink, frame.data, frame.size);
    if (boundary != nullptr) {
        error_count += out_file_write(io_.sink, "\r\n", 2);
    }
    // Without a sink nothing is written, but the frame's bytes still count.
    return len + frame.size + (boundary != nullptr ? 2 : 0);
}

void frame_loop::remember_size(uint32_t len) {
    size_history_[hidx_] = len;
    hidx_ = (hidx_ + 1) % kSizeHistory;
}

void frame_loop::print_statistics(const kept_frame& frame, uint32_t len, int64_t t_sent) {
    if (p_.quiet != 0) {
        return;
    }
    if (t_prev_ != 0) {
        period_ = static_cast<uint64_t>(cur_.t_dq - t_prev_);
    }
    if (p_.scroll == 0) {
        std::fputs("\r", stderr);  // the line is rewritten in place
    }
    const frame_stats stats{cur_.rec.index,
                            cur_.seq,
                            p_.mjpeg_http != nullptr ? frame.size : cur_.bytesused,
                            period_,
                            static_cast<uint64_t>(frame.t_search - cur_.t_dq),
                            static_cast<uint64_t>(t_sent - frame.t_search),
                            len,
                            size_history_};
    print_frame_stats(stderr, stats);
    if (p_.scroll != 0) {
        std::fputs("\n", stderr);
    } else {
        std::fflush(stderr);
    }
    t_prev_ = cur_.t_dq;
}

// Waits for the peer, if one is attached, to give the buffer back. Returns
// false when the loop must end at once: a stop byte, or no answer to be had.
bool frame_loop::await_peer() const {
    if (io_.pipe_fd < 0) {
        return true;
    }
    const int answer = pipe_read_answer(io_.pipe_fd, 1);
    if (answer < 0) {
        ++error_count;
        return false;
    }
    if ((answer & PIPE_STOP) != 0) {
        stop_requested = 1;
        return false;
    }
    if (static_cast<uint32_t>(answer) != (cur_.rec.index & 0xFF)) {
        error(1, 0, "wrong buf index %u from in pipe", cur_.rec.index);
    }
    return true;
}

// Gives the buffer back to the driver, cleared so that the JPEG search of
// its next frame finds nothing of this one; with -early-qbuf it went back
// at its dequeue.
void frame_loop::clear_and_requeue() {
    if (p_.early_qbuf != 0) {
        return;
    }
    std::memset(cur_.entry->start, 0, cur_.entry->length);
    if (xioctl(io_.device.fd, VIDIOC_QBUF, &cur_.rec) < 0) {
        error(1, errno, "enqueue buffer %u failed", cur_.rec.index);
    }
}

void frame_loop::report_end() const {
    break_status_line();
    if (error_count != 0) {
        error(0, 0, "Error happened, stop");
    }
    if (stop_requested != 0) {
        error(0, 0, "Stop signal '%s' received", strsignal(stop_signal));
    }
}

// A skip line, on a line of its own.
void frame_loop::drop_line(const char* reason) const {
    break_status_line();
    std::fprintf(stderr, " seq: %5zu, %sskip frame\n", static_cast<size_t>(cur_.seq), reason);
}

// Ends the statistics line that stands in place, so that what follows does
// not overwrite it; with -scroll every line has ended already.
void frame_loop::break_status_line() const {
    if (p_.scroll == 0) {
        std::fputs("\n", stderr);
    }
}

}  // namespace

void run_frame_loop(const capture_params& params, const frame_loop_io& io) {
    frame_loop loop(params, io);
    loop.run();
}
