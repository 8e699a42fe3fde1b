// SPDX-License-Identifier: MIT
#include "device_lock.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <mutex>

#include "real_libc.h"

namespace boardsim {

namespace {

// Out of the way of the program's own descriptors, like the trace's.
constexpr int kWakeFdFloor = 901;

std::mutex g_driver;

// Readable when the stream changed since a waiter last looked.
int wake_fd() {
    static const int fd = [] {
        const int made = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        const int moved = made < 0 ? -1 : fcntl(made, F_DUPFD_CLOEXEC, kWakeFdFloor);
        if (moved >= 0) {
            real::close(made);
            return moved;
        }
        return made;
    }();
    return fd;
}

timespec until(const timespec& due) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    int64_t ns = (due.tv_sec - now.tv_sec) * 1000000000LL + (due.tv_nsec - now.tv_nsec);
    if (ns < 0) {
        ns = 0;
    }
    return {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

}  // namespace

device_call::device_call() {
    g_driver.lock();
}

device_call::~device_call() {
    g_driver.unlock();
}

int wait_without_driver(const timespec* due) {
    const int fd = wake_fd();
    pollfd wake{fd, POLLIN, 0};
    const timespec left = due == nullptr ? timespec{} : until(*due);
    g_driver.unlock();
    // ppoll, like the pause() and sleep of a driver without other threads,
    // ends early for a signal's handler.
    const int ready = ppoll(&wake, fd < 0 ? 0 : 1, due == nullptr ? nullptr : &left, nullptr);
    const int error = errno;
    g_driver.lock();
    if (ready < 0 && error == EINTR) {
        return -EINTR;
    }
    if (ready > 0) {
        uint64_t changes = 0;
        [[maybe_unused]] const ssize_t n = read(fd, &changes, sizeof changes);
    }
    return 0;
}

void stream_changed() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(wake_fd(), &one, sizeof one);
}

}  // namespace boardsim
