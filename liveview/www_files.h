// SPDX-License-Identifier: MIT
// The page's files, served from the www directory: regular files under it
// only, reached without any "..", symbolic link or hidden name on the way.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "unique_fd.h"

struct www_file {
    unique_fd fd;
    size_t size = 0;
    std::string_view type;  // its Content-Type
};

// The largest file served: the page and its scripts and pictures.
inline constexpr size_t kMaxWwwFile = 4U << 20;

// Opens the file that the request path `path` names under `root` ("/" is
// index.html); nothing when there is none to serve.
std::optional<www_file> open_www_file(const char* root, std::string_view path);

// The Content-Type of a file, by its name's extension.
std::string_view content_type_of(std::string_view name);
