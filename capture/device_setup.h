// SPDX-License-Identifier: MIT
// Setting up the capture device for memory-mapped streaming, and taking it
// down again.
#pragma once

#include <cstdint>

#include "capture_params.h"
#include "kovlin_bufs.h"
#include "v4l2_requests.h"

void query_capabilities(int fd, uint32_t required, bool report);
uint32_t set_format(int fd, uint32_t width, uint32_t height, uint32_t pixelformat, bool report);
uint32_t get_format(int fd, v4l2_format* record, bool report);
void set_stream_parm(int fd, uint32_t capability, uint32_t capturemode, uint32_t tpf_numerator,
                     uint32_t tpf_denominator, bool report);
void get_stream_parm(int fd, v4l2_streamparm* record, bool report);
void set_control(int fd, uint32_t id, int32_t value);
// n > 0 allocates, n = 0 frees; returns the driver's count.
uint32_t request_buffers(int fd, uint32_t n);
void map_buffer(int fd, v4l2_buffer* record, uint32_t index, void** start_out,
                uint32_t* length_out);
void map_and_queue_buffer(int fd, uint32_t index, void** start_out, uint32_t* length_out);

struct capture_device {
    int fd;
    kovlin_bufs* table;
};

// Opens and configures the device, maps, clears and queues every buffer
// (announcing each to the peer on `pipe_fd` >= 0) and starts streaming.
capture_device capture_device_setup(const capture_params& params, int pipe_fd);
// Stops streaming, unmaps and frees the buffers. The table and the device
// descriptor stay until capture_device_close: the closing boundary of a
// multipart body is written between the two.
void capture_device_teardown(const capture_device& device);
// Frees the buffer table and closes the device.
void capture_device_close(const capture_device& device);
