// SPDX-License-Identifier: MIT
#include "open_files.h"

#include <atomic>
#include <map>
#include <mutex>

namespace boardsim {

namespace {

constexpr int kMaxFds = 4096;
std::atomic<uint32_t> g_file_of_fd[kMaxFds];

std::mutex g_lock;
std::map<uint32_t, int> g_descriptors;  // file -> count of its descriptors
uint32_t g_next_file = 1;

bool in_table(int fd) {
    return fd >= 0 && fd < kMaxFds;
}

}  // namespace

uint32_t open_file_new(int fd) {
    const std::lock_guard<std::mutex> guard(g_lock);
    const uint32_t file = g_next_file++;
    g_descriptors[file] = 1;
    if (in_table(fd)) {
        g_file_of_fd[fd] = file;
    }
    return file;
}

void open_file_dup(int from, int to) {
    const uint32_t file = open_file_of(from);
    if (file == 0 || !in_table(to)) {
        return;
    }
    const std::lock_guard<std::mutex> guard(g_lock);
    ++g_descriptors[file];
    g_file_of_fd[to] = file;
}

uint32_t open_file_of(int fd) {
    return in_table(fd) ? g_file_of_fd[fd].load() : 0;
}

uint32_t open_file_forget(int fd) {
    if (!in_table(fd)) {
        return 0;
    }
    const uint32_t file = g_file_of_fd[fd].exchange(0);
    if (file == 0) {
        return 0;
    }
    const std::lock_guard<std::mutex> guard(g_lock);
    if (--g_descriptors[file] > 0) {
        return 0;
    }
    g_descriptors.erase(file);
    return file;
}

}  // namespace boardsim
