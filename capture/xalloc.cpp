// SPDX-License-Identifier: MIT
#include "xalloc.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

xalloc_handler xalloc_failure_handler = xalloc_no_memory;

void xalloc_no_memory() {
    static constexpr char kMessage[] = "\nx{m,re}alloc(): No memory\n";
    // Nothing else can be done if even this write fails.
    [[maybe_unused]] const ssize_t written = write(2, kMessage, sizeof kMessage - 1);
    _exit(1);
}

void* xmalloc(size_t size) {
    if (size == 0) {
        return nullptr;
    }
    void* block;
    while ((block = std::malloc(size)) == nullptr) {
        xalloc_failure_handler();
    }
    return block;
}

void* xrealloc(void* block, size_t size) {
    if (size == 0) {
        std::free(block);
        return nullptr;
    }
    void* resized;
    while ((resized = std::realloc(block, size)) == nullptr) {
        xalloc_failure_handler();
    }
    return resized;
}

// NOLINTNEXTLINE(readability-identifier-length): `s`, as strdup() and the API name it
char* xstrdup(const char* s) {
    const size_t size = std::strlen(s) + 1;
    return static_cast<char*>(std::memcpy(xmalloc(size), s, size));
}
