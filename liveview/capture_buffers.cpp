// SPDX-License-Identifier: MIT
#include "capture_buffers.h"

#include <error.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/time.h>

#include <cerrno>
#include <utility>

#include "jpeg_marker.h"
#include "monotonic_clock.h"
#include "sensor_device.h"
#include "v4l2_requests.h"

namespace {

// The hand-off names buffers in 7 bits.
constexpr uint32_t kMaxBuffers = 128;
constexpr uint32_t kTimestampTypeMask = 0xE000;
constexpr uint32_t kTimestampMonotonic = 0x2000;

// The frame's time stamp as wall-clock microseconds. A driver that stamps
// its buffers with the monotonic clock is converted; one that gives no
// stamp is replaced by the time the index arrived, which is as close as
// vcapture's own stamp at its dequeue.
int64_t wall_clock_usec(const v4l2_buffer& record) {
    const int64_t stamp =
        int64_t{record.timestamp.tv_sec} * 1000000 + int64_t{record.timestamp.tv_usec};
    const int64_t now = clock_usec(CLOCK_REALTIME);
    if (stamp <= 0) {
        return now;
    }
    if ((record.flags & kTimestampTypeMask) == kTimestampMonotonic) {
        return now - clock_usec(CLOCK_MONOTONIC) + stamp;
    }
    return stamp;
}

}  // namespace

buffer_mapping::buffer_mapping(buffer_mapping&& other) noexcept
    : start_(std::exchange(other.start_, nullptr)), length_(std::exchange(other.length_, 0)) {}

buffer_mapping& buffer_mapping::operator=(buffer_mapping&& other) noexcept {
    if (this != &other) {
        reset();
        start_ = std::exchange(other.start_, nullptr);
        length_ = std::exchange(other.length_, 0);
    }
    return *this;
}

void buffer_mapping::reset() {
    if (start_ != nullptr) {
        munmap(const_cast<uint8_t*>(start_), length_);
    }
    start_ = nullptr;
    length_ = 0;
}

bool capture_buffers::open_device() {
    if (device_.valid()) {
        return true;
    }
    device_.reset(open(device_path_, O_RDWR | O_CLOEXEC));
    if (!device_.valid()) {
        error(0, errno, "can't open %s", device_path_);
        return false;
    }
    mappings_.resize(kMaxBuffers);
    return true;
}

bool capture_buffers::query(uint32_t index, v4l2_buffer* record) const {
    *record = {};
    record->index = index;
    record->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    record->memory = V4L2_MEMORY_MMAP;
    if (xioctl(device_.get(), VIDIOC_QUERYBUF, record) != 0) {
        error(0, errno, "VIDIOC_QUERYBUF of buffer %u failed", index);
        return false;
    }
    return true;
}

bool capture_buffers::map(uint32_t index) {
    v4l2_buffer record{};
    if (index >= kMaxBuffers || !open_device() || !query(index, &record)) {
        return false;
    }
    void* start = mmap(nullptr, record.length, PROT_READ, MAP_SHARED, device_.get(),
                       static_cast<off_t>(record.m.offset));
    if (start == MAP_FAILED) {
        error(0, errno, "can't map buffer %u", index);
        return false;
    }
    mappings_[index] = buffer_mapping(static_cast<const uint8_t*>(start), record.length);
    return true;
}

std::optional<shared_frame> capture_buffers::frame(uint32_t index) {
    v4l2_buffer record{};
    if (index >= mappings_.size() || mappings_[index].start() == nullptr) {
        error(0, 0, "frame in buffer %u, which was never mapped", index);
        return std::nullopt;
    }
    if (!query(index, &record)) {
        return std::nullopt;
    }
    const buffer_mapping& mapping = mappings_[index];
    // A driver that does not report the bytes used of a queried buffer
    // (0) has the whole buffer searched; vcapture clears it before reuse.
    const uint32_t used = record.bytesused < mapping.length() ? record.bytesused : mapping.length();
    uint32_t start = 0;
    uint32_t size = 0;
    if (find_jpeg_image(mapping.start(), mapping.length(), used, &start, &size) !=
        jpeg_search::found) {
        error(0, 0, "no JPEG image in buffer %u", index);
        return std::nullopt;
    }
    return shared_frame{mapping.start() + start, size, wall_clock_usec(record)};
}

bool capture_buffers::answer(uint8_t index) {
    if (!answers_.valid()) {
        // vcapture holds its end open from before its first map request.
        answers_.reset(open(answer_path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
        if (!answers_.valid()) {
            error(0, errno, "can't open named pipe %s", answer_path_.c_str());
            return false;
        }
    }
    if (write(answers_.get(), &index, 1) != 1) {
        error(0, errno, "can't answer on %s", answer_path_.c_str());
        return false;
    }
    return true;
}

void capture_buffers::release() {
    mappings_.clear();
    answers_.reset();
    device_.reset();
}
