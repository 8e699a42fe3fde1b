#include "v4l2_device.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/timerfd.h>

#include <sys/mman.h>
#include <sys/sysmacros.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "board_abi.h"
#include "device_queries.h"
#include "native_abi.h"
#include "open_files.h"
#include "real_libc.h"
#include "sensor_model.h"
#include "settings.h"
#include "stream.h"
#include "trace.h"
#include "user_memory.h"

namespace boardsim {

namespace {

constexpr int kMaxFds = 4096;

std::string open_flags_text(int flags) {
    std::string text = (flags & O_ACCMODE) == O_RDONLY   ? "O_RDONLY"
                       : (flags & O_ACCMODE) == O_WRONLY ? "O_WRONLY"
                                                         : "O_RDWR";
    if ((flags & O_NONBLOCK) != 0) {
        text += "|O_NONBLOCK";
    }
    if ((flags & O_NOATIME) != 0) {
        text += "|O_NOATIME";
    }
    return text;
}

int querycap(abi::capability* cap) {
    const settings& s = get_settings();
    if (s.querycap_errno != 0) {
        return -s.querycap_errno;
    }
    std::memset(cap, 0, sizeof *cap);
    // A name of sixteen characters fills the field without a terminator.
    std::memcpy(cap->driver, s.driver.data(), std::min(s.driver.size(), sizeof cap->driver));
    std::snprintf(cap->card, sizeof cap->card, "%s", s.card.c_str());
    std::snprintf(cap->bus_info, sizeof cap->bus_info, "platform:mxc_v4l2");
    cap->version = s.version;
    cap->capabilities = s.capabilities;
    cap->device_caps = s.capabilities & ~0x80000000u;
    return 0;
}

// Register requests. A read that the driver serves puts the value in the
// record; with BOARDSIM_REG_NOVALUE it leaves the record as it came.
int dbg_get(abi::dbg_register* r) {
    if (get_settings().dbg_errno != 0) {
        return -get_settings().dbg_errno;
    }
    uint16_t value = 0;
    const int result = sensor_read(static_cast<unsigned>(r->reg), &value);
    if (result == 0 && !get_settings().reads_leave_value) {
        r->val = value;
    }
    return result;
}

int dbg_set(const abi::dbg_register* r) {
    if (get_settings().dbg_errno != 0) {
        return -get_settings().dbg_errno;
    }
    return sensor_write(static_cast<unsigned>(r->reg), static_cast<uint16_t>(r->val));
}

int cam_get(abi::cam_sensor_reg* r) {
    if (get_settings().priv_errno != 0) {
        return -get_settings().priv_errno;
    }
    uint16_t value = 0;
    const int result = sensor_read(r->reg, &value);
    if (result == 0 && !get_settings().reads_leave_value) {
        r->val_lo = static_cast<uint8_t>(value);
        r->val_hi = static_cast<uint8_t>(value >> 8);
    }
    return result;
}

int cam_set(const abi::cam_sensor_reg* r) {
    if (get_settings().priv_errno != 0) {
        return -get_settings().priv_errno;
    }
    return sensor_write(r->reg, static_cast<uint16_t>(r->val_lo | r->val_hi << 8));
}

const char* request_name(unsigned long request) {
    switch (request) {
        case abi::QUERYCAP:
            return "VIDIOC_QUERYCAP";
        case abi::DBG_G_REGISTER:
            return "VIDIOC_DBG_G_REGISTER";
        case abi::DBG_S_REGISTER:
            return "VIDIOC_DBG_S_REGISTER";
        case abi::G_CAM_SENSOR_REG:
            return "VIDIOC_G_CAM_SENSOR_REG";
        case abi::S_CAM_SENSOR_REG:
            return "VIDIOC_S_CAM_SENSOR_REG";
        case abi::ENUM_FMT:
            return "VIDIOC_ENUM_FMT";
        case abi::QUERYCTRL:
            return "VIDIOC_QUERYCTRL";
        case abi::G_FMT:
            return "VIDIOC_G_FMT";
        case abi::S_FMT:
            return "VIDIOC_S_FMT";
        case abi::TRY_FMT:
            return "VIDIOC_TRY_FMT";
        case abi::REQBUFS:
            return "VIDIOC_REQBUFS";
        case abi::QUERYBUF:
            return "VIDIOC_QUERYBUF";
        case abi::QBUF:
            return "VIDIOC_QBUF";
        case abi::DQBUF:
            return "VIDIOC_DQBUF";
        case abi::STREAMON:
            return "VIDIOC_STREAMON";
        case abi::STREAMOFF:
            return "VIDIOC_STREAMOFF";
        case abi::G_PARM:
            return "VIDIOC_G_PARM";
        case abi::S_PARM:
            return "VIDIOC_S_PARM";
        case abi::G_CTRL:
            return "VIDIOC_G_CTRL";
        case abi::S_CTRL:
            return "VIDIOC_S_CTRL";
        case abi::G_JPEGCOMP:
            return "VIDIOC_G_JPEGCOMP";
        case abi::S_JPEGCOMP:
            return "VIDIOC_S_JPEGCOMP";
        default:
            return "ioctl";
    }
}

// Serves a request and writes its trace line.
int serve(int fd, unsigned long request, void* arg) {
    char result_buf[24];
    switch (request) {
        case abi::QUERYCAP: {
            const int result = querycap(static_cast<abi::capability*>(arg));
            trace("VIDIOC_QUERYCAP = %s", result_text(result, result_buf));
            return result;
        }
        case abi::DBG_G_REGISTER: {
            auto* r = static_cast<abi::dbg_register*>(arg);
            const int result = dbg_get(r);
            if (result == 0) {
                trace("VIDIOC_DBG_G_REGISTER reg=0x%02llX = 0x%04llX",
                      static_cast<unsigned long long>(r->reg),
                      static_cast<unsigned long long>(r->val & 0xFFFF));
            } else {
                trace("VIDIOC_DBG_G_REGISTER reg=0x%02llX = %s",
                      static_cast<unsigned long long>(r->reg), result_text(result, result_buf));
            }
            return result;
        }
        case abi::DBG_S_REGISTER: {
            auto* r = static_cast<abi::dbg_register*>(arg);
            const int result = dbg_set(r);
            trace("VIDIOC_DBG_S_REGISTER reg=0x%02llX val=0x%04llX = %s",
                  static_cast<unsigned long long>(r->reg), static_cast<unsigned long long>(r->val),
                  result_text(result, result_buf));
            return result;
        }
        case abi::G_CAM_SENSOR_REG: {
            auto* r = static_cast<abi::cam_sensor_reg*>(arg);
            const int result = cam_get(r);
            if (result == 0) {
                trace("VIDIOC_G_CAM_SENSOR_REG reg=0x%02X = 0x%02X%02X", r->reg, r->val_hi,
                      r->val_lo);
            } else {
                trace("VIDIOC_G_CAM_SENSOR_REG reg=0x%02X = %s", r->reg,
                      result_text(result, result_buf));
            }
            return result;
        }
        case abi::S_CAM_SENSOR_REG: {
            auto* r = static_cast<abi::cam_sensor_reg*>(arg);
            const int result = cam_set(r);
            trace("VIDIOC_S_CAM_SENSOR_REG reg=0x%02X val=0x%02X%02X = %s", r->reg, r->val_hi,
                  r->val_lo, result_text(result, result_buf));
            return result;
        }
        default: {
            int result = stream_ioctl(fd, request, arg);
            if (result == -ENOTTY) {
                result = query_ioctl(fd, request, arg);
            }
            if (result == -ENOTTY) {
                trace("ioctl 0x%08lX = -ENOTTY", request);
            }
            return result;
        }
    }
}

// A request that the settings make fail on this call; 0 when it goes through.
int request_fault(const char* name) {
    static std::map<std::string, int> calls;
    const int call = ++calls[name];
    for (const auto& fault : get_settings().request_faults) {
        if (fault.name == name && (fault.nth == 0 || fault.nth == call)) {
            return fault.error;
        }
    }
    return 0;
}

}  // namespace

int device_open(int flags) {
    const settings& s = get_settings();
    int result;
    if (s.open_errno != 0) {
        result = -s.open_errno;
    } else if (s.noatime_eperm && (flags & O_NOATIME) != 0) {
        result = -EPERM;  // the caller does not own the device node
    } else {
        // A timer stands in for the driver's descriptor: a real descriptor
        // that poll(), select() and epoll wait on, readable when a frame is due.
        result = timerfd_create(CLOCK_MONOTONIC, ((flags & O_NONBLOCK) != 0 ? TFD_NONBLOCK : 0) |
                                                     ((flags & O_CLOEXEC) != 0 ? TFD_CLOEXEC : 0));
        if (result < 0) {
            result = -errno;
        } else if (result >= kMaxFds) {
            real::close(result);
            result = -EMFILE;
        } else {
            priority_open(open_file_new(result));
        }
    }
    char result_buf[24];
    trace("open %s %s = %s", kDevicePath, open_flags_text(flags).c_str(),
          result_text(result, result_buf));
    return result;
}

bool is_device(int fd) {
    return open_file_of(fd) != 0;
}

void device_descriptor_dropped(int fd) {
    // The last descriptor of an open file releases what the file held.
    if (const uint32_t file = open_file_forget(fd); file != 0) {
        priority_close(file);
        stream_close(file);
    }
}

void* device_mmap(void* addr, size_t length, int prot, int flags, off_t offset) {
    if (const int error = request_fault("mmap"); error != 0) {
        char result_buf[24];
        trace("mmap offset=0x%lX length=%zu = %s", static_cast<unsigned long>(offset), length,
              result_text(-error, result_buf));
        errno = error;
        return MAP_FAILED;
    }
    int error = 0;
    void* p = stream_mmap(addr, length, prot, flags, offset, &error);
    if (p == MAP_FAILED) {
        errno = error;
    }
    return p;
}

int device_poll(pollfd* fds, int timeout_ms) {
    return stream_poll(fds, timeout_ms);
}

int device_close(int fd) {
    device_descriptor_dropped(fd);
    const int result = real::close(fd) < 0 ? -errno : 0;
    char result_buf[24];
    trace("close = %s", result_text(result, result_buf));
    return result;
}

namespace {

int serve_board_request(int fd, unsigned long request, void* arg) {
    // Each request first fails with the configured burst, as a driver does
    // that is interrupted or busy; the repeated request then goes through.
    static size_t burst_done = 0;
    const auto& burst = get_settings().burst;
    if (burst_done < burst.size()) {
        char result_buf[24];
        trace("%s = %s", request_name(request), result_text(-burst[burst_done], result_buf));
        return -burst[burst_done++];
    }
    burst_done = 0;
    if (const int error = request_fault(request_name(request)); error != 0) {
        char result_buf[24];
        trace("%s = %s", request_name(request), result_text(-error, result_buf));
        return -error;
    }
    if (const int error = priority_check(fd, request); error != 0) {
        char result_buf[24];
        trace("%s = %s", request_name(request), result_text(error, result_buf));
        return error;
    }
    return serve(fd, request, arg);
}

// The record of a request as the kernel's ioctl layer moves it: the size and
// direction encoded in the request number say what is read from the client
// before and written back after; a pointer that cannot be used gives EFAULT.
constexpr size_t kMaxRecord = _IOC_SIZEMASK + 1;

int fault(unsigned long request) {
    const char* name = request_name(request);
    if (std::strcmp(name, "ioctl") == 0) {
        trace("ioctl 0x%08lX = -EFAULT", request);
    } else {
        trace("%s = -EFAULT", name);
    }
    return -EFAULT;
}

}  // namespace

int device_ioctl(int fd, unsigned long request, void* arg) {
    const size_t size = _IOC_SIZE(request);
    const unsigned dir = _IOC_DIR(request);
    alignas(16) unsigned char record[kMaxRecord];
    if ((dir & _IOC_WRITE) != 0) {
        if (!copy_from_user(record, arg, size)) {
            return fault(request);
        }
    } else {
        std::memset(record, 0, size);
    }
    int result = 0;
    if (!serve_native_request(fd, request, record, serve_board_request, &result)) {
        result = serve_board_request(fd, request, record);
    }
    // The extended control requests tell which control failed even on failure.
    const bool always_copy = request == VIDIOC_G_EXT_CTRLS || request == VIDIOC_S_EXT_CTRLS ||
                             request == VIDIOC_TRY_EXT_CTRLS;
    if ((result >= 0 || (always_copy && result != -EFAULT)) && (dir & _IOC_READ) != 0 &&
        !copy_to_user(arg, record, size)) {
        return fault(request);
    }
    return result;
}

}  // namespace boardsim
