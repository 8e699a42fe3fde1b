// SPDX-License-Identifier: MIT
#include "www_files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <string>
#include <utility>

namespace {

struct extension_type {
    std::string_view extension;
    std::string_view type;
};

constexpr std::array<extension_type, 12> kTypes{{
    {".html", "text/html; charset=utf-8"},
    {".css", "text/css; charset=utf-8"},
    {".js", "text/javascript; charset=utf-8"},
    {".json", "application/json"},
    {".webmanifest", "application/manifest+json"},
    {".txt", "text/plain; charset=utf-8"},
    {".svg", "image/svg+xml"},
    {".png", "image/png"},
    {".jpg", "image/jpeg"},
    {".jpeg", "image/jpeg"},
    {".ico", "image/x-icon"},
    {".woff2", "font/woff2"},
}};

// A name of a path's component that may be served: no hidden file, no
// "." or "..", nothing but plain characters.
bool is_plain_name(std::string_view name) {
    return !name.empty() && name.front() != '.' && std::ranges::all_of(name, [](char each) {
        return (each >= 'a' && each <= 'z') || (each >= 'A' && each <= 'Z') ||
               (each >= '0' && each <= '9') || each == '.' || each == '-' || each == '_';
    });
}

}  // namespace

std::string_view content_type_of(std::string_view name) {
    for (const extension_type& each : kTypes) {
        if (name.ends_with(each.extension)) {
            return each.type;
        }
    }
    return "application/octet-stream";
}

std::optional<www_file> open_www_file(const char* root, std::string_view path) {
    if (path.empty() || path.front() != '/') {
        return std::nullopt;
    }
    path.remove_prefix(1);
    if (path.empty()) {
        path = "index.html";
    }
    unique_fd directory(open(root, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory.valid()) {
        return std::nullopt;
    }
    // One component at a time, refusing links: nothing outside the root.
    for (;;) {
        const size_t slash = path.find('/');
        const std::string name(path.substr(0, slash));
        if (!is_plain_name(name)) {
            return std::nullopt;
        }
        if (slash == std::string_view::npos) {
            unique_fd file(openat(directory.get(), name.c_str(),
                                  O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
            struct stat status {};
            if (!file.valid() || fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
                static_cast<size_t>(status.st_size) > kMaxWwwFile) {
                return std::nullopt;
            }
            return www_file{std::move(file), static_cast<size_t>(status.st_size),
                            content_type_of(name)};
        }
        directory.reset(
            openat(directory.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!directory.valid()) {
            return std::nullopt;
        }
        path.remove_prefix(slash + 1);
    }
}
