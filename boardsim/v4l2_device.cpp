// SPDX-License-Identifier: MIT
// The device's entry points: open, close, mmap, poll and ioctl on
// /dev/v4l/video0. A request's record is moved in and out as the kernel's
// ioctl layer does; the settings' injected failures and the access
// priority come first; then the request goes to the part of the driver
// that serves it.
#include "v4l2_device.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/timerfd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "board_abi.h"
#include "device_lock.h"
#include "device_queries.h"
#include "native_abi.h"
#include "open_files.h"
#include "real_libc.h"
#include "register_requests.h"
#include "request_faults.h"
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

// A timer stands in for the driver's descriptor: a real descriptor that
// poll(), select() and epoll wait on, readable when a frame is due.
int open_timer_descriptor(int flags) {
    const int fd =
        timerfd_create(CLOCK_MONOTONIC, ((flags & O_NONBLOCK) != 0 ? TFD_NONBLOCK : 0) |
                                            ((flags & O_CLOEXEC) != 0 ? TFD_CLOEXEC : 0));
    if (fd < 0) {
        return -errno;
    }
    if (fd >= kMaxFds) {
        real::close(fd);
        return -EMFILE;
    }
    priority_open(open_file_new(fd));
    return fd;
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
    cap->device_caps = s.capabilities & ~0x80000000U;
    return 0;
}

// Serves a request and writes its trace line.
int serve(int fd, unsigned long request, void* arg) {
    if (request == abi::QUERYCAP) {
        const int result = querycap(static_cast<abi::capability*>(arg));
        char result_buf[24];
        trace("VIDIOC_QUERYCAP = %s", result_text(result, result_buf));
        return result;
    }
    if (is_register_request(request)) {
        return register_ioctl(request, arg);
    }
    int result = stream_ioctl(fd, request, arg);
    if (result == -ENOTTY) {
        result = query_ioctl(fd, request, arg);
    }
    if (result == -ENOTTY) {
        trace("ioctl 0x%08lX = -ENOTTY", request);
    }
    return result;
}

// A request in the board's ABI, after the failures the settings inject and
// the check of the caller's access priority.
int serve_board_request(int fd, unsigned long request, void* arg) {
    if (const int error = injected_failure(request); error != 0) {
        return error;
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

// The extended control requests tell which control failed even on failure.
bool copied_out_on_failure(unsigned long request) {
    return request == VIDIOC_G_EXT_CTRLS || request == VIDIOC_S_EXT_CTRLS ||
           request == VIDIOC_TRY_EXT_CTRLS;
}

}  // namespace

int device_open(int flags) {
    const device_call call;
    const settings& s = get_settings();
    int result = 0;
    if (s.open_errno != 0) {
        result = -s.open_errno;
    } else if (s.noatime_eperm && (flags & O_NOATIME) != 0) {
        result = -EPERM;  // the caller does not own the device node
    } else {
        result = open_timer_descriptor(flags);
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
    const device_call call;
    // The last descriptor of an open file releases what the file held.
    if (const uint32_t file = open_file_forget(fd); file != 0) {
        priority_close(file);
        stream_close(file);
    }
}

void* device_mmap(void* addr, size_t length, int prot, int flags, off_t offset) {
    const device_call call;
    if (const int error = named_request_fault("mmap"); error != 0) {
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
    const device_call call;
    return stream_poll(fds, timeout_ms);
}

int device_close(int fd) {
    device_descriptor_dropped(fd);
    const int result = real::close(fd) < 0 ? -errno : 0;
    char result_buf[24];
    trace("close = %s", result_text(result, result_buf));
    return result;
}

int device_ioctl(int fd, unsigned long request, void* arg) {
    const device_call call;
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
    const bool copy_out = result >= 0 || (copied_out_on_failure(request) && result != -EFAULT);
    if (copy_out && (dir & _IOC_READ) != 0 && !copy_to_user(arg, record, size)) {
        return fault(request);
    }
    return result;
}

}  // namespace boardsim
