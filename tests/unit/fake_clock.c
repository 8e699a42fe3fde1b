// SPDX-License-Identifier: MIT
/* A wall clock that tests set by hand: preloaded into a test process, it
 * answers gettimeofday() for everything in it, the code under test included,
 * once fake_clock_set() has been called. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdint.h>
#include <sys/time.h>

static int fake_enabled;
static int64_t fake_usec;

__attribute__((visibility("default"))) void fake_clock_set(int64_t usec) {
    fake_usec = usec;
    fake_enabled = 1;
}

__attribute__((visibility("default"))) int gettimeofday(struct timeval* tv, void* tz) {
    if (!fake_enabled) {
        int (*real)(struct timeval*, void*) =
            (int (*)(struct timeval*, void*))dlsym(RTLD_NEXT, "gettimeofday");
        return real(tv, tz);
    }
    tv->tv_sec = (time_t)(fake_usec / 1000000);
    tv->tv_usec = (suseconds_t)(fake_usec % 1000000);
    return 0;
}
