// SPDX-License-Identifier: MIT
#include "stream_owner.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <string>

#include "real_libc.h"
#include "settings.h"

namespace boardsim {

namespace {

// Across processes the owner holds an exclusive flock on
// $BOARDSIM_DIR/stream.lock: the kernel drops it when the owner dies, so a
// crashed streamer never blocks the next one. Within the process the owning
// open file is remembered.
uint32_t g_owner = 0;  // 0: no open file of this process

int lock_fd() {
    static const int fd = [] {
        const std::string path = get_settings().dir + "/stream.lock";
        return real::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    }();
    return fd;
}

}  // namespace

int stream_claim(uint32_t file) {
    if (g_owner == file) {
        return 0;
    }
    if (g_owner != 0 || lock_fd() < 0 || flock(lock_fd(), LOCK_EX | LOCK_NB) != 0) {
        return -EBUSY;
    }
    g_owner = file;
    return 0;
}

void stream_release(uint32_t file) {
    if (g_owner != file || file == 0) {
        return;
    }
    g_owner = 0;
    flock(lock_fd(), LOCK_UN);
}

bool stream_owned_by(uint32_t file) {
    return file != 0 && g_owner == file;
}

bool stream_owned_by_other(uint32_t file) {
    if (g_owner != 0) {
        return g_owner != file;
    }
    // Nobody in this process: a shared lock is refused while another
    // process holds the exclusive one.
    if (lock_fd() < 0 || flock(lock_fd(), LOCK_SH | LOCK_NB) != 0) {
        return errno == EWOULDBLOCK;
    }
    flock(lock_fd(), LOCK_UN);
    return false;
}

}  // namespace boardsim
