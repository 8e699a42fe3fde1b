// SPDX-License-Identifier: MIT
// Allocation that never hands a failure to its caller: the failure handler
// runs after every failed attempt, and the default one ends the program.
#pragma once

#include <cstddef>

using xalloc_handler = void (*)();
extern xalloc_handler xalloc_failure_handler;

// Writes "\nx{m,re}alloc(): No memory\n" to descriptor 2 and exits with 1.
[[noreturn]] void xalloc_no_memory();

void* xmalloc(size_t size);                // NULL for size 0
void* xrealloc(void* block, size_t size);  // frees and returns NULL for size 0
// NOLINTNEXTLINE(readability-identifier-length): `s`, as strdup() and the API name it
char* xstrdup(const char* s);
