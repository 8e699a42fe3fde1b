// SPDX-License-Identifier: MIT
// The clocks of the event loop: deadlines in milliseconds of the monotonic
// clock, part time stamps in microseconds of the wall clock.
#pragma once

#include <cstdint>
#include <ctime>

inline int64_t monotonic_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

inline int64_t usec_of(const timespec& time) {
    return static_cast<int64_t>(time.tv_sec) * 1000000 + time.tv_nsec / 1000;
}

inline int64_t clock_usec(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return usec_of(now);
}
