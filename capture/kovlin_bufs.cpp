#include "kovlin_bufs.h"

#include <error.h>

#include <cstdlib>
#include <cstring>

#include "xalloc.h"

kovlin_bufs* kovlin_bufs_new(uint32_t n) {
    auto* table = static_cast<kovlin_bufs*>(xmalloc(sizeof(kovlin_bufs)));
    table->count = n;
    table->entries = static_cast<kovlin_buf*>(xmalloc(sizeof(kovlin_buf) * n));
    if (table->entries != nullptr) {
        std::memset(table->entries, 0, sizeof(kovlin_buf) * n);
    }
    return table;
}

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
