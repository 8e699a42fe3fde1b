#include "replacement_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace {

// As many links as the kernel follows in one path lookup.
constexpr int kMaxLinkHops = 40;

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
    if (resolveLinks(path, &target_)) {
        temporary_ = target_ + ".tmp";
        if (!open()) {
            discard();
        }
    }
}

ReplacementFile::~ReplacementFile() {
    discard();
}

bool ReplacementFile::open() {
    file_ = std::fopen(temporary_.c_str(), "w");
    return file_ != nullptr && take_mode_and_owner(fileno(file_), target_);
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
