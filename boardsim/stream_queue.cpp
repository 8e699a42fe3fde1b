// SPDX-License-Identifier: MIT
// Queueing buffers, dequeueing frames (paced as a sensor delivers them) and
// turning the stream on and off: the requests of the stream's owner.
#include "stream_queue.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

#include "device_lock.h"
#include "frame_faults.h"
#include "frame_pacing.h"
#include "stream.h"
#include "stream_owner.h"
#include "stream_requests.h"
#include "trace.h"

namespace boardsim {

process_stream g_stream;

void forget_queued_buffers() {
    g_stream.head = g_stream.size = 0;
    std::fill(std::begin(g_stream.queued), std::end(g_stream.queued), false);
}

namespace {

int qbuf(abi::buffer* b) {
    const driver_state* d = driver();
    if ((b->flags & abi::kBufFlagRequestFd) != 0) {
        return -EBADR;  // no request API
    }
    if (b->type != 1 || b->memory != 1 || b->index >= d->buf_count || g_stream.queued[b->index]) {
        return -EINVAL;
    }
    g_stream.queued[b->index] = true;
    g_stream.queue[(g_stream.head + g_stream.size) % kMaxBuffers] = b->index;
    ++g_stream.size;
    b->flags = abi::kBufFlagMapped | abi::kBufFlagQueued | kTimestampFlags;
    return 0;
}

uint32_t take_oldest_queued() {
    const uint32_t index = g_stream.queue[g_stream.head];
    g_stream.head = (g_stream.head + 1) % kMaxBuffers;
    --g_stream.size;
    g_stream.queued[index] = false;
    return index;
}

// Non-blocking descriptors get EAGAIN instead of a wait.
bool nonblocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_NONBLOCK) != 0;
}

// Waits for a queued buffer and its frame's time; 0 when a frame can be
// delivered, else the error the dequeue fails with. Another thread of the
// client may queue, stop or free meanwhile, so each wait is followed by a
// new look.
int wait_until_deliverable(int fd, const driver_state* d) {
    for (;;) {
        if (!g_stream.streaming) {
            return -EINVAL;
        }
        if ((g_stream.size == 0 || !frame_due_now(d)) && nonblocking(fd)) {
            return -EAGAIN;
        }
        // Nothing queued: a driver waits until a buffer is queued or a
        // signal comes, for ever if neither happens.
        const int rc = g_stream.size == 0 ? wait_without_driver(nullptr) : wait_for_frame(d);
        if (rc != 0) {
            return rc;
        }
        if (g_stream.streaming && g_stream.size > 0 && frame_due_now(d)) {
            return 0;
        }
    }
}

int dqbuf(int fd, abi::buffer* b) {
    driver_state* d = driver();
    if (b->type != 1 || b->memory != 1 || !g_stream.streaming) {
        return -EINVAL;
    }
    if (const int rc = wait_until_deliverable(fd, d); rc != 0) {
        return rc;
    }
    const uint32_t index = take_oldest_queued();
    const uint32_t seq = g_stream.next_seq++;
    uint32_t reported = index;
    uint8_t* data = g_stream.buffers + static_cast<size_t>(index) * d->buf_length;
    const uint32_t used = produce_frame(d, data, index, seq, &reported);
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::memset(b, 0, sizeof *b);
    b->index = reported;
    b->type = 1;
    b->bytesused = used;
    b->flags = abi::kBufFlagMapped | kTimestampFlags;  // done, and now the client's
    b->field = 1;
    b->tv_sec = static_cast<int32_t>(now.tv_sec);
    b->tv_usec = static_cast<int32_t>(now.tv_nsec / 1000);
    b->sequence = seq;
    b->memory = 1;
    b->offset = index * d->buf_length;
    b->length = d->buf_length;
    d->filled[index] = filled_buffer{used, seq, b->tv_sec, b->tv_usec};
    return 0;
}

int streamon(const int* type) {
    const driver_state* d = driver();
    if (*type != 1 || d->buf_count == 0) {
        return -EINVAL;
    }
    if (g_stream.streaming) {
        return 0;
    }
    g_stream.streaming = true;
    g_stream.next_seq = 0;
    clock_gettime(CLOCK_MONOTONIC, &g_stream.t0);
    return 0;
}

int streamoff(const int* type) {
    if (*type != 1) {
        return -EINVAL;
    }
    g_stream.streaming = false;
    forget_queued_buffers();
    return 0;
}

void trace_dqbuf(int rc, const abi::buffer* b) {
    if (rc == 0) {
        trace("VIDIOC_DQBUF index=%u sequence=%u bytesused=%u = 0", b->index, b->sequence,
              b->bytesused);
    } else {
        char rb[24];
        trace("VIDIOC_DQBUF = %s", result_text(rc, rb));
    }
}

}  // namespace

int queue_ioctl(int fd, unsigned long request, void* arg) {
    char rb[24];
    int rc = 0;
    switch (request) {
        case abi::QBUF:
            rc = qbuf(static_cast<abi::buffer*>(arg));
            update_readiness(fd);
            stream_changed();
            trace("VIDIOC_QBUF index=%u = %s", static_cast<abi::buffer*>(arg)->index,
                  result_text(rc, rb));
            return rc;
        case abi::DQBUF:
            rc = dqbuf(fd, static_cast<abi::buffer*>(arg));
            update_readiness(fd);
            trace_dqbuf(rc, static_cast<abi::buffer*>(arg));
            return rc;
        case abi::STREAMON:
            rc = streamon(static_cast<const int*>(arg));
            update_readiness(fd);
            stream_changed();
            trace("VIDIOC_STREAMON = %s", result_text(rc, rb));
            return rc;
        case abi::STREAMOFF:
            rc = streamoff(static_cast<const int*>(arg));
            update_readiness(fd);
            stream_changed();
            trace("VIDIOC_STREAMOFF = %s", result_text(rc, rb));
            return rc;
        default:
            return -ENOTTY;
    }
}

void stream_close(uint32_t file) {
    // Closing another open file of the device leaves the owner's stream alone.
    if (stream_owned_by_other(file)) {
        return;
    }
    if (stream_owned_by(file)) {
        driver()->buf_count = 0;  // the driver frees the buffers of a closed owner
    }
    stream_release(file);
    g_stream.streaming = false;
    forget_queued_buffers();
    stream_changed();
}

}  // namespace boardsim
