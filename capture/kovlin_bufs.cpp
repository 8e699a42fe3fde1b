// SPDX-License-Identifier: MIT
#include "kovlin_bufs.h"

#include <error.h>

#include <cstdlib>
#include <cstring>

#include "xalloc.h"

kovlin_bufs* kovlin_bufs_new(uint32_t n) {
    // On a 32-bit board the size of a table of a few hundred million entries
    // wraps; a table too small for its count must never be handed out.
    size_t size = 0;
    if (__builtin_mul_overflow(sizeof(kovlin_buf), size_t{n}, &size)) {
        error(1, 0, "kovlin_bufs: %u buffers are too many for a table", n);
    }
    auto* table = static_cast<kovlin_bufs*>(xmalloc(sizeof(kovlin_bufs)));
    table->count = n;
    table->entries = static_cast<kovlin_buf*>(xmalloc(size));
    if (table->entries != nullptr) {
        std::memset(table->entries, 0, size);
    }
    return table;
}

// NOLINTNEXTLINE(readability-identifier-length): `i`, the entry index as the API documents it
kovlin_buf* kovlin_bufs_at(kovlin_bufs* table, uint32_t i) {
    if (table == nullptr) {
        error(1, 0, "kovlin_bufs: Access to unallocated buffers");
    }
    if (i >= table->count) {
        error(1, 0, "kovlin_bufs: Access beyond of the allocated buffers");
    }
    return &table->entries[i];
}

void kovlin_bufs_free(kovlin_bufs* table) {
    if (table == nullptr) {
        return;
    }
    std::free(table->entries);
    std::free(table);
}
