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
// descriptor is remembered.
int g_owner_fd = -1;

int lock_fd() {
    static const int fd = [] {
        const std::string path = get_settings().dir + "/stream.lock";
        return real::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    }();
    return fd;
}

}  // namespace

int stream_claim(int fd) {
    if (g_owner_fd == fd) {
        return 0;
    }
    if (g_owner_fd >= 0 || lock_fd() < 0 || flock(lock_fd(), LOCK_EX | LOCK_NB) != 0) {
        return -EBUSY;
    }
    g_owner_fd = fd;
    return 0;
}

void stream_release(int fd) {
    if (g_owner_fd != fd || fd < 0) {
        return;
    }
    g_owner_fd = -1;
    flock(lock_fd(), LOCK_UN);
}

bool stream_owned_by(int fd) {
    return fd >= 0 && g_owner_fd == fd;
}

bool stream_owned_by_other(int fd) {
    if (g_owner_fd >= 0) {
        return g_owner_fd != fd;
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
