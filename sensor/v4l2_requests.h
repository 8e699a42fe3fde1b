// SPDX-License-Identifier: MIT
// V4L2 request records and request numbers as the board's 32-bit ARM kernel
// lays them out. They are written out here with fixed-width fields instead of
// taken from <linux/videodev2.h>, so that every host (a 64-bit development
// machine included) builds exactly the records the board's driver expects.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Requests and their numbers (32-bit ABI encodings) ----

inline constexpr unsigned long VIDIOC_QUERYCAP = 0x80685600;
inline constexpr unsigned long VIDIOC_G_FMT = 0xC0CC5604;
inline constexpr unsigned long VIDIOC_S_FMT = 0xC0CC5605;
inline constexpr unsigned long VIDIOC_REQBUFS = 0xC0145608;
inline constexpr unsigned long VIDIOC_QUERYBUF = 0xC0445609;
inline constexpr unsigned long VIDIOC_QBUF = 0xC044560F;
inline constexpr unsigned long VIDIOC_DQBUF = 0xC0445611;
inline constexpr unsigned long VIDIOC_STREAMON = 0x40045612;
inline constexpr unsigned long VIDIOC_STREAMOFF = 0x40045613;
inline constexpr unsigned long VIDIOC_G_PARM = 0xC0CC5615;
inline constexpr unsigned long VIDIOC_S_PARM = 0xC0CC5616;
inline constexpr unsigned long VIDIOC_S_CTRL = 0xC008561C;
inline constexpr unsigned long VIDIOC_S_JPEGCOMP = 0x408C563E;

// The debug register requests in their original 24-byte form, which the
// board's driver implements; newer kernels use a larger record.
inline constexpr unsigned long VIDIOC_DBG_S_REGISTER = 0x4018564F;
inline constexpr unsigned long VIDIOC_DBG_G_REGISTER = 0xC0185650;
// The board driver's own register requests.
inline constexpr unsigned long VIDIOC_G_CAM_SENSOR_REG = 0xC0085654;
inline constexpr unsigned long VIDIOC_S_CAM_SENSOR_REG = 0x40085655;

// ---- Constants ----

inline constexpr uint32_t V4L2_BUF_TYPE_VIDEO_CAPTURE = 1;
inline constexpr uint32_t V4L2_MEMORY_MMAP = 1;
inline constexpr uint32_t V4L2_FIELD_NONE = 1;
inline constexpr uint32_t V4L2_BUF_FLAG_TIMECODE = 0x0100;
inline constexpr uint32_t V4L2_CAP_VIDEO_CAPTURE = 0x00000001;
inline constexpr uint32_t V4L2_CAP_STREAMING = 0x04000000;
inline constexpr uint32_t V4L2_CAP_TIMEPERFRAME = 0x1000;
inline constexpr uint32_t V4L2_MODE_HIGHQUALITY = 0x0001;
inline constexpr uint32_t V4L2_CID_PRIVATE_BASE = 0x08000000;
inline constexpr uint32_t V4L2_CID_AUTO_WHITE_BALANCE = 0x0098090C;
inline constexpr uint32_t V4L2_CID_AUTOGAIN = 0x00980912;

constexpr uint32_t v4l2_fourcc(char c0, char c1, char c2, char c3) {
    return static_cast<uint32_t>(static_cast<uint8_t>(c0)) |
           static_cast<uint32_t>(static_cast<uint8_t>(c1)) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(c2)) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(c3)) << 24;
}
inline constexpr uint32_t V4L2_PIX_FMT_YUV420 = v4l2_fourcc('Y', 'U', '1', '2');
inline constexpr uint32_t V4L2_PIX_FMT_GREY = v4l2_fourcc('G', 'R', 'E', 'Y');
inline constexpr uint32_t V4L2_PIX_FMT_JPEG = v4l2_fourcc('J', 'P', 'E', 'G');

// ---- Records ----

struct v4l2_capability {
    uint8_t driver[16];
    uint8_t card[32];
    uint8_t bus_info[32];
    uint32_t version;
    uint32_t capabilities;
    uint32_t device_caps;
    uint32_t reserved[3];
};

struct v4l2_pix_format {
    uint32_t width;
    uint32_t height;
    uint32_t pixelformat;
    uint32_t field;
    uint32_t bytesperline;
    uint32_t sizeimage;
    uint32_t colorspace;
    uint32_t priv;
    uint32_t flags;
    uint32_t ycbcr_enc;
    uint32_t quantization;
    uint32_t xfer_func;
};

struct v4l2_format {
    uint32_t type;
    union {
        v4l2_pix_format pix;
        uint8_t raw_data[200];
    } fmt;
};

struct v4l2_fract {
    uint32_t numerator;
    uint32_t denominator;
};

struct v4l2_captureparm {
    uint32_t capability;
    uint32_t capturemode;
    v4l2_fract timeperframe;
    uint32_t extendedmode;
    uint32_t readbuffers;
    uint32_t reserved[4];
};

struct v4l2_streamparm {
    uint32_t type;
    union {
        v4l2_captureparm capture;
        uint8_t raw_data[200];
    } parm;
};

struct v4l2_jpegcompression {
    int32_t quality;
    int32_t APPn;
    int32_t APP_len;
    char APP_data[60];
    int32_t COM_len;
    char COM_data[60];
    uint32_t jpeg_markers;
};

struct v4l2_requestbuffers {
    uint32_t count;
    uint32_t type;
    uint32_t memory;
    uint32_t capabilities;
    uint8_t flags;
    uint8_t reserved[3];
};

struct v4l2_control {
    uint32_t id;
    int32_t value;
};

// The board's time stamps are two 32-bit words (32-bit time_t).
struct v4l2_timeval32 {
    int32_t tv_sec;
    int32_t tv_usec;
};

struct v4l2_timecode {
    uint32_t type;
    uint32_t flags;
    uint8_t frames;
    uint8_t seconds;
    uint8_t minutes;
    uint8_t hours;
    uint8_t userbits[4];
};

struct v4l2_buffer {
    uint32_t index;
    uint32_t type;
    uint32_t bytesused;
    uint32_t flags;
    uint32_t field;
    v4l2_timeval32 timestamp;
    v4l2_timecode timecode;
    uint32_t sequence;
    uint32_t memory;
    union {
        uint32_t offset;
        uint32_t userptr;
        uint32_t planes;
        int32_t fd;
    } m;
    uint32_t length;
    uint32_t reserved2;
    uint32_t request_fd;
};

// Register access through the debug requests (24-byte form).
struct dbg_register_record {
    uint32_t match_type;
    uint32_t match_chip;
    uint64_t reg;
    uint64_t val;
};

// Register access through the driver's private requests; the value travels
// as two separate bytes.
struct cam_sensor_reg_record {
    uint32_t reg;
    uint8_t value_low;
    uint8_t value_high;
    uint8_t reserved[2];
};

// ---- The layouts the board's kernel expects ----

static_assert(sizeof(v4l2_capability) == 104);
static_assert(offsetof(v4l2_capability, version) == 80);
static_assert(offsetof(v4l2_capability, capabilities) == 84);
static_assert(sizeof(v4l2_pix_format) == 48);
static_assert(sizeof(v4l2_format) == 204);
static_assert(offsetof(v4l2_format, fmt) == 4);
static_assert(offsetof(v4l2_pix_format, sizeimage) == 20);
static_assert(sizeof(v4l2_captureparm) == 40);
static_assert(sizeof(v4l2_streamparm) == 204);
static_assert(offsetof(v4l2_captureparm, timeperframe) == 8);
static_assert(offsetof(v4l2_captureparm, readbuffers) == 20);
static_assert(sizeof(v4l2_jpegcompression) == 140);
static_assert(offsetof(v4l2_jpegcompression, COM_len) == 72);
static_assert(sizeof(v4l2_requestbuffers) == 20);
static_assert(sizeof(v4l2_control) == 8);
static_assert(sizeof(v4l2_buffer) == 68);
static_assert(offsetof(v4l2_buffer, timestamp) == 20);
static_assert(offsetof(v4l2_buffer, timecode) == 28);
static_assert(offsetof(v4l2_buffer, sequence) == 44);
static_assert(offsetof(v4l2_buffer, memory) == 48);
static_assert(offsetof(v4l2_buffer, m) == 52);
static_assert(offsetof(v4l2_buffer, length) == 56);
static_assert(sizeof(dbg_register_record) == 24);
static_assert(offsetof(dbg_register_record, reg) == 8);
static_assert(offsetof(dbg_register_record, val) == 16);
static_assert(sizeof(cam_sensor_reg_record) == 8);
static_assert(offsetof(cam_sensor_reg_record, value_low) == 4);
static_assert(offsetof(cam_sensor_reg_record, value_high) == 5);

// Request numbers encode direction, type 'V', number and record size.
namespace v4l2_abi {
inline constexpr unsigned long ioc(unsigned dir, unsigned nr, std::size_t size) {
    return (static_cast<unsigned long>(dir) << 30) | (static_cast<unsigned long>(size) << 16) |
           (static_cast<unsigned long>('V') << 8) | nr;
}
inline constexpr unsigned kWrite = 1, kRead = 2;
static_assert(VIDIOC_QUERYCAP == ioc(kRead, 0, sizeof(v4l2_capability)));
static_assert(VIDIOC_G_FMT == ioc(kRead | kWrite, 4, sizeof(v4l2_format)));
static_assert(VIDIOC_S_FMT == ioc(kRead | kWrite, 5, sizeof(v4l2_format)));
static_assert(VIDIOC_REQBUFS == ioc(kRead | kWrite, 8, sizeof(v4l2_requestbuffers)));
static_assert(VIDIOC_QUERYBUF == ioc(kRead | kWrite, 9, sizeof(v4l2_buffer)));
static_assert(VIDIOC_QBUF == ioc(kRead | kWrite, 15, sizeof(v4l2_buffer)));
static_assert(VIDIOC_DQBUF == ioc(kRead | kWrite, 17, sizeof(v4l2_buffer)));
static_assert(VIDIOC_STREAMON == ioc(kWrite, 18, sizeof(int32_t)));
static_assert(VIDIOC_STREAMOFF == ioc(kWrite, 19, sizeof(int32_t)));
static_assert(VIDIOC_G_PARM == ioc(kRead | kWrite, 21, sizeof(v4l2_streamparm)));
static_assert(VIDIOC_S_PARM == ioc(kRead | kWrite, 22, sizeof(v4l2_streamparm)));
static_assert(VIDIOC_S_CTRL == ioc(kRead | kWrite, 28, sizeof(v4l2_control)));
static_assert(VIDIOC_S_JPEGCOMP == ioc(kWrite, 62, sizeof(v4l2_jpegcompression)));
static_assert(VIDIOC_DBG_S_REGISTER == ioc(kWrite, 79, sizeof(dbg_register_record)));
static_assert(VIDIOC_DBG_G_REGISTER == ioc(kRead | kWrite, 80, sizeof(dbg_register_record)));
static_assert(VIDIOC_G_CAM_SENSOR_REG == ioc(kRead | kWrite, 84, sizeof(cam_sensor_reg_record)));
static_assert(VIDIOC_S_CAM_SENSOR_REG == ioc(kWrite, 85, sizeof(cam_sensor_reg_record)));
}  // namespace v4l2_abi
