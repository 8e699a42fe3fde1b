// SPDX-License-Identifier: MIT
#include "credentials_file.h"

#include <error.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "password_hash.h"
#include "unique_fd.h"

namespace {

// A credentials file of a few logins is a few hundred bytes; anything near
// this is not one.
constexpr off_t kMaxFileBytes = 1 << 20;

constexpr size_t kMaxUserBytes = 64;

// 32 letters and digits without the look-alikes l, o, 0 and 1: easy to type
// from a log, and one random byte's low five bits pick one evenly.
constexpr std::string_view kPasswordAlphabet = "abcdefghijkmnpqrstuvwxyz23456789";
constexpr size_t kFirstPasswordLength = 16;  // 80 bits

file_identity identity_of(const struct stat& status) {
    return {status.st_dev, status.st_ino, status.st_size, status.st_ctim};
}

std::string directory_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// 0 with the whole file in `content`, or an errno value.
int read_whole_file(const char* path, std::string* content, file_identity* identity) {
    const unique_fd fd(::open(path, O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (!fd.valid() || fstat(fd.get(), &status) != 0) {
        return errno;
    }
    if (!S_ISREG(status.st_mode) || status.st_size > kMaxFileBytes) {
        return S_ISREG(status.st_mode) ? EFBIG : EINVAL;
    }
    content->assign(static_cast<size_t>(status.st_size), '\0');
    size_t done = 0;
    while (done < content->size()) {
        const ssize_t count = read(fd.get(), content->data() + done, content->size() - done);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return count < 0 ? errno : EIO;  // shorter than it said: being rewritten in place
        }
        done += static_cast<size_t>(count);
    }
    *identity = identity_of(status);
    return 0;
}

bool write_all(int fd, std::string_view content) {
    while (!content.empty()) {
        const ssize_t count = write(fd, content.data(), content.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return false;
        }
        content.remove_prefix(static_cast<size_t>(count));
    }
    return true;
}

// A replaced file keeps its owner, so that root setting a password leaves
// the file readable by the service's user.
bool keep_owner(int fd, const char* path) {
    struct stat old {};
    if (stat(path, &old) != 0) {
        return errno == ENOENT;
    }
    struct stat now {};
    if (fstat(fd, &now) != 0) {
        return false;
    }
    return (now.st_uid == old.st_uid && now.st_gid == old.st_gid) ||
           fchown(fd, old.st_uid, old.st_gid) == 0;
}

enum class placing { replace, create_only };

// Writes `content` to a temporary file made exclusively beside `path` (mode
// 0600), makes it durable, and puts it in place: renamed over the old file,
// or linked as `path` only if nothing is there yet. Failures are reported.
bool write_private_file(const char* path, std::string_view content, placing how) {
    std::string temporary = std::string(path) + ".XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        error(0, errno, "cannot create a file beside %s", path);
        return false;
    }
    bool done = (how == placing::create_only || keep_owner(fd, path)) &&
                fchmod(fd, S_IRUSR | S_IWUSR) == 0 && write_all(fd, content) && fsync(fd) == 0;
    const int write_error = errno;
    done = close(fd) == 0 && done;
    if (!done) {
        error(0, write_error, "cannot write %s", temporary.c_str());
    } else if (how == placing::replace ? rename(temporary.c_str(), path) != 0
                                       : link(temporary.c_str(), path) != 0) {
        error(0, errno, "cannot create %s", path);
        done = false;
    }
    unlink(temporary.c_str());  // gone already after a rename
    if (done) {
        const unique_fd directory(
            ::open(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (directory.valid()) {
            fsync(directory.get());  // the new name survives a power cut
        }
    }
    return done;
}

bool random_password(std::string* password) {
    std::array<unsigned char, kFirstPasswordLength> bytes{};
    if (getrandom(bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
        error(0, errno, "cannot draw random bytes for a password");
        return false;
    }
    password->clear();
    for (const unsigned char byte : bytes) {
        password->push_back(kPasswordAlphabet[byte % kPasswordAlphabet.size()]);
    }
    explicit_bzero(bytes.data(), bytes.size());
    return true;
}

}  // namespace

bool file_identity::operator==(const file_identity& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
}

file_identity identify_file(const char* path) {
    struct stat status {};
    return stat(path, &status) == 0 ? identity_of(status) : file_identity{};
}

int read_credentials(const char* path, std::vector<credential>* users, file_identity* identity) {
    users->clear();
    std::string content;
    const int failure = read_whole_file(path, &content, identity);
    if (failure != 0) {
        if (failure != ENOENT) {
            error(0, failure, "cannot read %s", path);
        }
        return failure;
    }
    std::string_view rest = content;
    for (unsigned number = 1; !rest.empty(); ++number) {
        const size_t end = std::min(rest.find('\n'), rest.size());
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        const size_t colon = line.find(':');
        if (line.empty()) {
            continue;
        }
        if (colon == std::string_view::npos || !valid_user_name(line.substr(0, colon)) ||
            colon + 1 == line.size()) {
            error(0, 0, "%s:%u: not a user:hash line; ignored", path, number);
            continue;
        }
        users->push_back({std::string(line.substr(0, colon)), std::string(line.substr(colon + 1))});
    }
    explicit_bzero(content.data(), content.size());
    return 0;
}

bool valid_user_name(std::string_view user) {
    return !user.empty() && user.size() <= kMaxUserBytes &&
           std::none_of(user.begin(), user.end(), [](char byte) {
               return byte == ':' || static_cast<unsigned char>(byte) < 0x20 || byte == 0x7f;
           });
}

bool set_password(const char* users_path, std::string_view user, std::string_view password) {
    std::string old;
    file_identity identity;
    const int failure = read_whole_file(users_path, &old, &identity);
    if (failure != 0 && failure != ENOENT) {
        error(0, failure, "cannot read %s", users_path);
        return false;
    }
    std::string hash;
    if (!hash_password(password, &hash)) {
        return false;
    }
    // Every other line stays as it was; the user's first line is replaced
    // and any later one dropped.
    const std::string own_line = std::string(user) + ":" + hash + "\n";
    std::string content;
    bool placed = false;
    std::string_view rest = old;
    while (!rest.empty()) {
        const size_t end = std::min(rest.find('\n'), rest.size());
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (line.size() > user.size() && line.starts_with(user) && line[user.size()] == ':') {
            content += placed ? "" : own_line;
            placed = true;
        } else {
            content.append(line).push_back('\n');
        }
    }
    if (!placed) {
        content += own_line;
    }
    return write_private_file(users_path, content, placing::replace);
}

std::string first_password_path(const char* users_path) {
    return directory_of(users_path) + "/admin.password";
}

bool create_first_credentials(const char* users_path) {
    std::string password;
    std::string hash;
    if (!random_password(&password) || !hash_password(password, &hash)) {
        return false;
    }
    // The password first: a users file whose password nobody was told would
    // lock everyone out.
    const std::string password_path = first_password_path(users_path);
    bool created = write_private_file(password_path.c_str(), password + "\n", placing::replace);
    if (created && !write_private_file(users_path, "admin:" + hash + "\n", placing::create_only)) {
        unlink(password_path.c_str());
        created = false;
    }
    explicit_bzero(password.data(), password.size());
    if (created) {
        error(0, 0, "no credentials file: created %s with the user admin, whose password is in %s",
              users_path, password_path.c_str());
    }
    return created;
}
