// SPDX-License-Identifier: MIT
// vshare's side of the buffer hand-off: the capture device opened for
// queries, the stream buffers mapped as vcapture announces them, the frame
// a buffer holds, and the answer that gives the buffer back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "unique_fd.h"

// A read-only mapping of one stream buffer; unmapped by its destructor.
class buffer_mapping {
  public:
    buffer_mapping() = default;
    buffer_mapping(const uint8_t* start, uint32_t length) : start_(start), length_(length) {}
    buffer_mapping(buffer_mapping&& other) noexcept;
    buffer_mapping& operator=(buffer_mapping&& other) noexcept;
    buffer_mapping(const buffer_mapping&) = delete;
    buffer_mapping& operator=(const buffer_mapping&) = delete;
    ~buffer_mapping() { reset(); }

    [[nodiscard]] const uint8_t* start() const { return start_; }
    [[nodiscard]] uint32_t length() const { return length_; }
    void reset();

  private:
    const uint8_t* start_ = nullptr;
    uint32_t length_ = 0;
};

// One JPEG image in a mapped buffer, with the wall-clock time of its frame.
struct shared_frame {
    const uint8_t* image;
    uint32_t size;
    int64_t t_usec;
};

class capture_buffers {
  public:
    // The answers go to `answer_path` (vcapture's BASENAME_r); the buffers
    // are those of the capture device at `device_path`, vcapture's.
    capture_buffers(std::string answer_path, const char* device_path)
        : answer_path_(std::move(answer_path)), device_path_(device_path) {}

    // A map request for buffer `index`; false (reported) when it failed.
    bool map(uint32_t index);
    // The image that buffer `index` holds; nothing (reported) when there is
    // none to be found.
    std::optional<shared_frame> frame(uint32_t index);
    // Gives buffer `index` back to vcapture; false (reported) on failure.
    bool answer(uint8_t index);
    // Unmaps everything and closes the device and the pipe: the capture
    // has ended.
    void release();

  private:
    bool open_device();
    bool query(uint32_t index, struct v4l2_buffer* record) const;

    std::string answer_path_;
    const char* device_path_;
    unique_fd device_;
    unique_fd answers_;
    std::vector<buffer_mapping> mappings_;
};
