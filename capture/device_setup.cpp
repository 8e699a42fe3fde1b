// SPDX-License-Identifier: MIT
#include "device_setup.h"

#include <error.h>
#include <sched.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "mt9d131_registers.h"
#include "named_pipe.h"
#include "sensor_device.h"
#include "v4l2_text.h"

namespace {

// Indices travel to the peer in one byte whose bit 0x40 means "stop".
constexpr uint32_t kPeerBufferLimit = 64;
// The most buffers one V4L2 queue can have (the kernel's VB2_MAX_BUFFERS):
// a larger count from the driver is garbage, and no table is made for it.
constexpr uint32_t kMaxStreamBuffers = 32768;

void report_format(const char* prefix, const v4l2_format& format) {
    const v4l2_pix_format& pix = format.fmt.pix;
    error(0, 0,
          "%s: width: %4u, height: %4u, pixfmt: %s, field: %s, bytesperline: %4u, sizeimage: %u",
          prefix, pix.width, pix.height, fourcc_text(pix.pixelformat), v4l2_field_name(pix.field),
          pix.bytesperline, pix.sizeimage);
}

void report_stream_parm(const char* prefix, const v4l2_streamparm& streamparm) {
    const v4l2_captureparm& capture = streamparm.parm.capture;
    error(0, 0,
          "%s: timeperframe: %d, high quality: %d, read bufs: %u, frame period: %u/%u, "
          "rate(1/sec): %6.3f",
          prefix, static_cast<int>((capture.capability >> 12) & 1),
          static_cast<int>(capture.capturemode & V4L2_MODE_HIGHQUALITY), capture.readbuffers,
          capture.timeperframe.numerator, capture.timeperframe.denominator,
          static_cast<double>(capture.timeperframe.denominator) /
              static_cast<double>(capture.timeperframe.numerator));
}

// Reads a record back from the driver: zeroed, typed for capture, asked for.
template <typename Record>
void read_back(const char* name, int fd, unsigned long request, Record* record) {
    std::memset(record, 0, sizeof *record);
    record->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    xioctl_checked(name, fd, request, record);
}

}  // namespace

void query_capabilities(int fd, uint32_t required, bool report) {
    v4l2_capability cap{};
    if (xioctl(fd, VIDIOC_QUERYCAP, &cap) < 0) {
        if (errno == EINVAL) {
            error(1, errno, "The device is not compatible with V4L2 specification");
        }
        error(1, errno, "VIDIOC_QUERYCAP");
    }
    if (report) {
        // The driver's name fills its field without a terminator when it is long.
        error(0, 0, "driver: %.*s, version: %u.%u.%u", static_cast<int>(sizeof cap.driver),
              reinterpret_cast<const char*>(cap.driver), (cap.version >> 16) & 0xFF,
              (cap.version >> 8) & 0xFF, cap.version & 0xFF);
    }
    if ((cap.capabilities & required) != required) {
        error(1, 0, "The device have no required capabilities");
    }
}

uint32_t set_format(int fd, uint32_t width, uint32_t height, uint32_t pixelformat, bool report) {
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.width = width;
    format.fmt.pix.height = height;
    format.fmt.pix.pixelformat = pixelformat;
    format.fmt.pix.field = V4L2_FIELD_NONE;
    format.fmt.pix.bytesperline = 0;
    format.fmt.pix.sizeimage = 0;
    xioctl_checked("VIDIOC_S_FMT", fd, VIDIOC_S_FMT, &format);
    if (report) {
        report_format("S_FMT ", format);
    }
    return format.fmt.pix.sizeimage;
}

uint32_t get_format(int fd, v4l2_format* record, bool report) {
    v4l2_format own{};
    v4l2_format& format = record != nullptr ? *record : own;
    read_back("VIDIOC_G_FMT", fd, VIDIOC_G_FMT, &format);
    if (report) {
        report_format("G_FMT ", format);
    }
    return format.fmt.pix.sizeimage;
}

void set_stream_parm(int fd, uint32_t capability, uint32_t capturemode, uint32_t tpf_numerator,
                     uint32_t tpf_denominator, bool report) {
    v4l2_streamparm streamparm{};
    streamparm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    streamparm.parm.capture.capability = capability;
    streamparm.parm.capture.capturemode = capturemode;
    streamparm.parm.capture.timeperframe.numerator = tpf_numerator;
    streamparm.parm.capture.timeperframe.denominator = tpf_denominator;
    streamparm.parm.capture.readbuffers = 1;
    xioctl_checked("VIDIOC_S_PARM", fd, VIDIOC_S_PARM, &streamparm);
    if (report) {
        report_stream_parm("S_PARM", streamparm);
    }
}

void get_stream_parm(int fd, v4l2_streamparm* record, bool report) {
    v4l2_streamparm own{};
    v4l2_streamparm& streamparm = record != nullptr ? *record : own;
    read_back("VIDIOC_G_PARM", fd, VIDIOC_G_PARM, &streamparm);
    if (report) {
        report_stream_parm("G_PARM", streamparm);
    }
}

void set_control(int fd, uint32_t id, int32_t value) {
    v4l2_control control{};
    control.id = id;
    control.value = value;
    xioctl_checked("VIDIOC_S_CTRL", fd, VIDIOC_S_CTRL, &control);
}

uint32_t request_buffers(int fd, uint32_t n) {
    v4l2_requestbuffers request{};
    request.count = n;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (n == 0) {
        xioctl_checked("VIDIOC_REQBUFS free", fd, VIDIOC_REQBUFS, &request);
        return request.count;
    }
    xioctl_checked("VIDIOC_REQBUFS", fd, VIDIOC_REQBUFS, &request);
    if (request.count == 0) {
        error(1, 0, "Not enough stream buffers");
    }
    return request.count;
}

void map_buffer(int fd, v4l2_buffer* record, uint32_t index, void** start_out,
                uint32_t* length_out) {
    std::memset(record, 0, sizeof *record);
    record->index = index;
    record->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    record->flags = V4L2_BUF_FLAG_TIMECODE;
    record->field = V4L2_FIELD_NONE;
    record->memory = V4L2_MEMORY_MMAP;
    xioctl_checked("VIDIOC_QUERYBUF", fd, VIDIOC_QUERYBUF, record);
    if (start_out == nullptr || length_out == nullptr) {
        return;
    }
    *length_out = record->length;
    void* start = mmap(nullptr, record->length, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_LOCKED, fd,
                       static_cast<off_t>(record->m.offset));
    if (start == MAP_FAILED) {
        error(1, errno, "mmap buffer %u failed", index);
    }
    *start_out = start;
}

void map_and_queue_buffer(int fd, uint32_t index, void** start_out, uint32_t* length_out) {
    v4l2_buffer record;
    map_buffer(fd, &record, index, start_out, length_out);
    if (xioctl(fd, VIDIOC_QBUF, &record) < 0) {
        error(1, errno, "enqueue buffer %u failed", record.index);
    }
}

namespace {

// Format, JPEG quality, frame rate and the three controls, each read back
// and reported where the driver answers with a record.
void configure_stream(int fd, const capture_params& params) {
    constexpr bool report = true;
    set_format(fd, params.width, params.height, params.pixfmt, report);
    if (params.pixfmt == V4L2_PIX_FMT_JPEG && params.qscale != 0) {
        v4l2_jpegcompression compression{};
        compression.quality = params.qscale;
        xioctl_checked("VIDIOC_S_JPEGCOMP", fd, VIDIOC_S_JPEGCOMP, &compression);
    }
    get_format(fd, nullptr, report);

    // The time per frame is the inverse of the rate asked for.
    set_stream_parm(fd, params.fps_num != 0 ? V4L2_CAP_TIMEPERFRAME : 0, 0, params.fps_denom,
                    params.fps_num, report);
    get_stream_parm(fd, nullptr, report);

    set_control(fd, V4L2_CID_PRIVATE_BASE, params.rotate);
    set_control(fd, V4L2_CID_AUTO_WHITE_BALANCE, params.awb);
    set_control(fd, V4L2_CID_AUTOGAIN, params.ae);
}

// Requests the stream buffers; returns how many the driver allocated, after
// refusing a count that no table or no peer could take.
uint32_t request_stream_buffers(int fd, int bufs, bool peer) {
    const auto requested = static_cast<uint32_t>(bufs);
    const uint32_t allocated = request_buffers(fd, requested);
    error(0, 0, "stream buffers: requested: %u, allocated: %u", requested, allocated);
    if (allocated > kMaxStreamBuffers) {
        error(1, 0, "%u stream buffers are more than V4L2 allows (%u)", allocated,
              kMaxStreamBuffers);
    }
    if (peer && allocated > kPeerBufferLimit) {
        error(1, 0, "%u stream buffers cannot be shared with a peer: at most %u fit the hand-off",
              allocated, kPeerBufferLimit);
    }
    return allocated;
}

// Maps, queues and clears every buffer of the table, and announces each to
// the peer on `pipe_fd` >= 0; a failed announcement ends the program.
void map_all_buffers(int fd, kovlin_bufs* table, int pipe_fd) {
    for (uint32_t i = 0; i < table->count; ++i) {
        kovlin_buf* entry = kovlin_bufs_at(table, i);
        // Queued before it is cleared: the driver writes nothing before streaming.
        map_and_queue_buffer(fd, i, &entry->start, &entry->length);
        std::memset(entry->start, 0, entry->length);
        error(0, 0, "stream buffer %u with length %u mapped", i, entry->length);
        if (pipe_fd >= 0) {
            error(0, 0, "sending map request for buffer %zu ...", static_cast<size_t>(i));
            if (pipe_write_byte(1, static_cast<uint8_t>(PIPE_MAP_REQUEST | (i & 0x7F))) < 0) {
                std::exit(1);
            }
        }
    }
}

}  // namespace

capture_device capture_device_setup(const capture_params& params, int pipe_fd) {
    const int fd = sensor_device_open_path(params.device, 0);
    query_capabilities(fd, V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING, true);
    error(0, 0, "Sensor ID - 0x%04X", unsigned{mt9d131_page_reg_read(fd, 0, 0)});
    configure_stream(fd, params);

    const uint32_t count = request_stream_buffers(fd, params.bufs, pipe_fd >= 0);
    kovlin_bufs* table = kovlin_bufs_new(count);
    map_all_buffers(fd, table, pipe_fd);
    sched_yield();

    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    xioctl_checked("VIDIOC_STREAMON", fd, VIDIOC_STREAMON, &type);
    return {fd, table};
}

void capture_device_teardown(const capture_device& device) {
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    xioctl_checked("VIDIOC_STREAMOFF", device.fd, VIDIOC_STREAMOFF, &type);
    for (uint32_t i = 0; i < device.table->count; ++i) {
        const kovlin_buf* entry = kovlin_bufs_at(device.table, i);
        if (munmap(entry->start, entry->length) != 0) {
            error(0, errno, "munmap for buffer %u failed", i);
        }
    }
    request_buffers(device.fd, 0);
}

void capture_device_close(const capture_device& device) {
    kovlin_bufs_free(device.table);
    close(device.fd);
}
