// SPDX-License-Identifier: MIT
#include "replacement_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <ctime>

namespace {

// As many links as the kernel follows in one path lookup.
constexpr int kMaxLinkHops = 40;
// Names tried before giving up: a clash needs the same process id and 32
// random bits, so the second try practically always succeeds.
constexpr int kNameAttempts = 16;

std::string directory_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

// Gives the new file what the replaced one had: a saved configuration that
// only its owner may read stays that way.
bool take_mode_and_owner(int fd, const std::string& target) {
    struct stat old {};
    if (stat(target.c_str(), &old) != 0) {
        return errno == ENOENT;  // a new file: the mode the umask gives
    }
    struct stat now {};
    if (fstat(fd, &now) != 0) {
        return false;
    }
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
        fchown(fd, old.st_uid, old.st_gid) != 0) {
        return false;
    }
    return fchmod(fd, old.st_mode & 07777) == 0;
}

// A file of our own beside `target`, created exclusively under a name no
// other run picks, so that two writers never share one; its descriptor, or
// -1. (Not mkstemp: its open happens inside the C library, where a board
// whose /etc is elsewhere could not send it.)
int create_beside(const std::string& target, std::string* name) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        uint32_t salt = 0;
        if (getrandom(&salt, sizeof salt, GRND_NONBLOCK) != sizeof salt) {
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            salt = static_cast<uint32_t>(now.tv_nsec) ^ static_cast<uint32_t>(attempt) << 24U;
        }
        char suffix[40];
        std::snprintf(suffix, sizeof suffix, ".tmp-%d-%08x", static_cast<int>(getpid()), salt);
        *name = target + suffix;
        const int fd =
            ::open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

void sync_directory(const std::string& path) {
    const int fd = ::open(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);  // the rename itself survives a power cut
        close(fd);
    }
}

}  // namespace

bool resolveLinks(const char* path, std::string* resolved) {
    std::string current = path;
    for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
        char target[PATH_MAX];
        const ssize_t length = readlink(current.c_str(), target, sizeof target);
        if (length < 0) {
            *resolved = current;
            return errno == EINVAL || errno == ENOENT;  // not a link, or nothing there yet
        }
        if (length == 0 || static_cast<size_t>(length) == sizeof target) {
            return false;
        }
        const std::string next(target, static_cast<size_t>(length));
        current = next.front() == '/' ? next : directory_of(current).append(next);
    }
    return false;
}

ReplacementFile::ReplacementFile(const char* path) {
    if (resolveLinks(path, &target_) && !open()) {
        const int reason = errno;  // for the caller's report, past the clean-up
        discard();
        errno = reason;
    }
}

ReplacementFile::~ReplacementFile() {
    discard();
}

bool ReplacementFile::open() {
    const int fd = create_beside(target_, &temporary_);
    if (fd < 0) {
        return false;
    }
    file_ = fdopen(fd, "w");
    if (file_ == nullptr) {
        close(fd);
        unlink(temporary_.c_str());
        return false;
    }
    return take_mode_and_owner(fd, target_);
}

void ReplacementFile::discard() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
        unlink(temporary_.c_str());
    }
}

bool ReplacementFile::commit() {
    if (file_ == nullptr) {
        return false;
    }
    const bool written =
        std::fflush(file_) == 0 && std::ferror(file_) == 0 && fsync(fileno(file_)) == 0;
    FILE* file = file_;
    file_ = nullptr;
    if (std::fclose(file) != 0 || !written ||
        std::rename(temporary_.c_str(), target_.c_str()) != 0) {
        unlink(temporary_.c_str());
        return false;
    }
    sync_directory(target_);
    return true;
}
