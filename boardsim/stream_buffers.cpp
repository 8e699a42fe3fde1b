// SPDX-License-Identifier: MIT
// The stream buffers: requested by the owner of the stream, kept in
// $BOARDSIM_DIR/buffers, which every process that maps them (vcapture, a
// hand-off peer) maps shared, and queried by anyone.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <string>

#include "board_abi.h"
#include "driver_state.h"
#include "open_files.h"
#include "real_libc.h"
#include "settings.h"
#include "stream.h"
#include "stream_owner.h"
#include "stream_queue.h"
#include "stream_requests.h"
#include "trace.h"

namespace boardsim {

namespace {

constexpr uint32_t kPage = 4096;

// Maps the buffers file at the size the driver's buffers need; true when
// mapped (or when no buffers are needed).
bool open_buffers(const driver_state* d) {
    const size_t size = static_cast<size_t>(d->buf_count) * d->buf_length;
    if (g_stream.buffers != nullptr && g_stream.buffers_size == size) {
        return true;
    }
    if (g_stream.buffers != nullptr) {
        munmap(g_stream.buffers, g_stream.buffers_size);
        g_stream.buffers = nullptr;
    }
    if (g_stream.buffers_fd < 0) {
        const std::string path = get_settings().dir + "/buffers";
        g_stream.buffers_fd = real::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    }
    if (g_stream.buffers_fd < 0 || size == 0) {
        return size == 0;
    }
    struct stat st {};
    if (fstat(g_stream.buffers_fd, &st) != 0 || static_cast<size_t>(st.st_size) < size) {
        if (ftruncate(g_stream.buffers_fd, static_cast<off_t>(size)) != 0) {
            return false;
        }
    }
    void* p = real::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, g_stream.buffers_fd, 0);
    if (p == MAP_FAILED) {
        return false;
    }
    g_stream.buffers = static_cast<uint8_t*>(p);
    g_stream.buffers_size = size;
    return true;
}

// Requesting buffers makes the open file the owner of the stream; a
// request for none gives them up.
int reqbufs(uint32_t file, abi::requestbuffers* r) {
    driver_state* d = driver();
    if (r->type != 1 || r->memory != 1) {
        return -EINVAL;
    }
    if (stream_owned_by_other(file)) {
        return -EBUSY;
    }
    if (g_stream.streaming) {
        return -EBUSY;
    }
    if (r->count == 0) {
        stream_release(file);
    } else if (const int rc = stream_claim(file); rc != 0) {
        return rc;
    }
    const uint32_t count = std::min({r->count, get_settings().max_bufs, kMaxBuffers});
    d->buf_count = count;
    d->buf_length = (d->sizeimage + kPage - 1) / kPage * kPage;
    forget_queued_buffers();
    std::fill(std::begin(d->filled), std::end(d->filled), filled_buffer{});
    const bool allocated = open_buffers(d);
    if (!allocated || count == 0) {
        stream_release(file);  // no buffers: nothing to own
    }
    if (!allocated) {
        return -ENOMEM;
    }
    // A broken driver may report a count it never allocated.
    const uint32_t reported = get_settings().reqbufs_count;
    r->count = reported != 0 && count != 0 ? reported : count;
    r->capabilities = 1;        // MMAP
    r->flags_and_reserved = 0;  // no cache hints
    return 0;
}

int querybuf(abi::buffer* b) {
    const driver_state* d = driver();
    if (b->type != 1 || b->index >= d->buf_count) {
        return -EINVAL;
    }
    b->memory = 1;
    b->length = d->buf_length;
    b->offset = b->index * d->buf_length;
    b->flags = abi::kBufFlagMapped | kTimestampFlags |
               (g_stream.queued[b->index] ? abi::kBufFlagQueued : 0);
    b->field = 1;
    const filled_buffer& filled = d->filled[b->index];
    b->bytesused = filled.bytesused;
    b->sequence = filled.sequence;
    b->tv_sec = filled.tv_sec;
    b->tv_usec = filled.tv_usec;
    return 0;
}

}  // namespace

int buffer_ioctl(int fd, unsigned long request, void* arg) {
    char rb[24];
    switch (request) {
        case abi::REQBUFS: {
            auto* r = static_cast<abi::requestbuffers*>(arg);
            const uint32_t asked = r->count;
            const int rc = reqbufs(open_file_of(fd), r);
            if (rc == 0) {
                trace("VIDIOC_REQBUFS count=%u = 0 count=%u", asked, r->count);
            } else {
                trace("VIDIOC_REQBUFS count=%u = %s", asked, result_text(rc, rb));
            }
            return rc;
        }
        case abi::QUERYBUF: {
            auto* b = static_cast<abi::buffer*>(arg);
            const int rc = querybuf(b);
            trace("VIDIOC_QUERYBUF index=%u = %s", b->index, result_text(rc, rb));
            return rc;
        }
        default:
            return -ENOTTY;
    }
}

void* stream_mmap(void* addr, size_t length, int prot, int flags, off_t offset, int* error) {
    const driver_state* d = driver();
    void* p = MAP_FAILED;
    int rc = -EINVAL;
    const size_t end = static_cast<size_t>(offset) + length;
    if (d != nullptr && offset >= 0 && offset % off_t{kPage} == 0 &&
        end <= static_cast<size_t>(d->buf_count) * d->buf_length && open_buffers(d)) {
        // MAP_LOCKED is the driver's business; the simulator's memory need not be locked.
        p = real::mmap(addr, length, prot, flags & ~MAP_LOCKED, g_stream.buffers_fd, offset);
        rc = p == MAP_FAILED ? -errno : 0;
    }
    char rb[24];
    trace("mmap offset=0x%lX length=%zu = %s", static_cast<unsigned long>(offset), length,
          result_text(rc, rb));
    *error = -rc;
    return p;
}

}  // namespace boardsim
