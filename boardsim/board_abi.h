// SPDX-License-Identifier: MIT
// The board driver's request numbers and records as the simulator decodes
// them: the 32-bit ARM ABI, whatever the host. Kept apart from the programs'
// own definitions on purpose, so that one mistake cannot hide on both sides.
#pragma once

#include <cstdint>

namespace boardsim::abi {

constexpr unsigned long ioc(unsigned dir, unsigned nr, unsigned size) {
    return (static_cast<unsigned long>(dir) << 30) | (static_cast<unsigned long>(size) << 16) |
           (0x56UL << 8) | nr;
}
constexpr unsigned kW = 1, kR = 2, kRW = 3;

constexpr unsigned long QUERYCAP = ioc(kR, 0, 104);
constexpr unsigned long ENUM_FMT = ioc(kRW, 2, 64);
constexpr unsigned long G_FMT = ioc(kRW, 4, 204);
constexpr unsigned long S_FMT = ioc(kRW, 5, 204);
constexpr unsigned long REQBUFS = ioc(kRW, 8, 20);
constexpr unsigned long QUERYBUF = ioc(kRW, 9, 68);
constexpr unsigned long QBUF = ioc(kRW, 15, 68);
constexpr unsigned long DQBUF = ioc(kRW, 17, 68);
constexpr unsigned long STREAMON = ioc(kW, 18, 4);
constexpr unsigned long STREAMOFF = ioc(kW, 19, 4);
constexpr unsigned long G_PARM = ioc(kRW, 21, 204);
constexpr unsigned long S_PARM = ioc(kRW, 22, 204);
constexpr unsigned long G_CTRL = ioc(kRW, 27, 8);
constexpr unsigned long S_CTRL = ioc(kRW, 28, 8);
constexpr unsigned long QUERYCTRL = ioc(kRW, 36, 68);
constexpr unsigned long G_JPEGCOMP = ioc(kR, 61, 140);
constexpr unsigned long S_JPEGCOMP = ioc(kW, 62, 140);
constexpr unsigned long TRY_FMT = ioc(kRW, 64, 204);
constexpr unsigned long DBG_S_REGISTER = ioc(kW, 79, 24);
constexpr unsigned long DBG_G_REGISTER = ioc(kRW, 80, 24);
constexpr unsigned long G_CAM_SENSOR_REG = ioc(kRW, 84, 8);
constexpr unsigned long S_CAM_SENSOR_REG = ioc(kW, 85, 8);

struct capability {  // 104 bytes
    char driver[16];
    char card[32];
    char bus_info[32];
    uint32_t version;
    uint32_t capabilities;
    uint32_t device_caps;
    uint32_t reserved[3];
};
static_assert(sizeof(capability) == 104);

struct dbg_register {  // the original 24-byte debug register record
    uint32_t match_type;
    uint32_t match_chip;
    uint64_t reg;
    uint64_t val;
};
static_assert(sizeof(dbg_register) == 24);

struct cam_sensor_reg {  // the driver's private record: value as two bytes
    uint32_t reg;
    uint8_t val_lo;
    uint8_t val_hi;
    uint8_t reserved[2];
};
static_assert(sizeof(cam_sensor_reg) == 8);

struct pix_format {  // inside the 204-byte format record, after its type word
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

struct format {
    uint32_t type;
    union {
        pix_format pix;
        uint8_t raw[200];
    };
};
static_assert(sizeof(format) == 204);

struct captureparm {
    uint32_t capability;
    uint32_t capturemode;
    uint32_t tpf_numerator;
    uint32_t tpf_denominator;
    uint32_t extendedmode;
    uint32_t readbuffers;
    uint32_t reserved[4];
};

struct streamparm {
    uint32_t type;
    union {
        captureparm capture;
        uint8_t raw[200];
    };
};
static_assert(sizeof(streamparm) == 204);

struct fmtdesc {  // 64 bytes
    uint32_t index;
    uint32_t type;
    uint32_t flags;
    char description[32];
    uint32_t pixelformat;
    uint32_t mbus_code;
    uint32_t reserved[3];
};
static_assert(sizeof(fmtdesc) == 64);

struct queryctrl {  // 68 bytes
    uint32_t id;
    uint32_t type;
    char name[32];
    int32_t minimum;
    int32_t maximum;
    int32_t step;
    int32_t default_value;
    uint32_t flags;
    uint32_t reserved[2];
};
static_assert(sizeof(queryctrl) == 68);

struct control {
    uint32_t id;
    int32_t value;
};

struct jpegcompression {
    int32_t quality;
    uint8_t rest[136];
};
static_assert(sizeof(jpegcompression) == 140);

struct requestbuffers {
    uint32_t count;
    uint32_t type;
    uint32_t memory;
    uint32_t capabilities;
    uint32_t flags_and_reserved;
};
static_assert(sizeof(requestbuffers) == 20);

struct buffer {  // 68 bytes, 32-bit time stamp
    uint32_t index;
    uint32_t type;
    uint32_t bytesused;
    uint32_t flags;
    uint32_t field;
    int32_t tv_sec;
    int32_t tv_usec;
    uint8_t timecode[16];
    uint32_t sequence;
    uint32_t memory;
    uint32_t offset;
    uint32_t length;
    uint32_t reserved2;
    uint32_t request_fd;
};
static_assert(sizeof(buffer) == 68);

constexpr uint32_t kFourccYU12 = 0x32315559;
constexpr uint32_t kFourccGREY = 0x59455247;
constexpr uint32_t kFourccJPEG = 0x4745504A;
constexpr uint32_t kBufFlagMapped = 0x1;
constexpr uint32_t kBufFlagQueued = 0x2;
constexpr uint32_t kBufFlagDone = 0x4;
constexpr uint32_t kBufFlagTimestampMonotonic = 0x2000;
constexpr uint32_t kBufFlagRequestFd = 0x00800000;
constexpr uint32_t kCapTimeperframe = 0x1000;
constexpr uint32_t kCidRotate = 0x08000000;
constexpr uint32_t kCidAutoWhiteBalance = 0x0098090C;
constexpr uint32_t kCidAutogain = 0x00980912;

}  // namespace boardsim::abi
