// SPDX-License-Identifier: MIT
#include "preload_paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "real_libc.h"
#include "settings.h"

namespace boardsim {

bool simulator_active() {
    return !get_settings().dir.empty();
}

// The board's paths that live in the simulator's directory: the module's
// serial port (a link to the emulator's pseudo-terminal) and the module's
// configuration files in /etc, with anything created beside them.
const char* redirect_path(const char* path, char (&buffer)[4096]) {
    if (!simulator_active() || path == nullptr) {
        return path;
    }
    const std::string& dir = get_settings().dir;
    if (std::strcmp(path, "/dev/ttymxc2") == 0) {
        std::snprintf(buffer, sizeof buffer, "%s/ttymxc2", dir.c_str());
        return buffer;
    }
    if (std::strcmp(path, "/sys/dev/char/81:0/uevent") == 0) {
        // Where V4L2 clients learn what kind of node the device is.
        std::snprintf(buffer, sizeof buffer, "%s/uevent", dir.c_str());
        const int fd = real::open(buffer, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0) {
            static constexpr char kUevent[] = "MAJOR=81\nMINOR=0\nDEVNAME=video0\n";
            [[maybe_unused]] const ssize_t n = write(fd, kUevent, sizeof kUevent - 1);
            real::close(fd);
        }
        return buffer;
    }
    if (std::strncmp(path, "/etc/pixim", 10) == 0 && std::strchr(path + 5, '/') == nullptr) {
        std::snprintf(buffer, sizeof buffer, "%s/etc", dir.c_str());
        mkdir(buffer, 0755);
        std::snprintf(buffer, sizeof buffer, "%s/etc/%s", dir.c_str(), path + 5);
        return buffer;
    }
    return path;
}

}  // namespace boardsim
