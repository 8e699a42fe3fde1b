// SPDX-License-Identifier: MIT
// The table of mapped stream buffers, indexed by the driver's buffer index.
#pragma once

#include <cstdint>

struct kovlin_buf {
    void* start;      // the buffer's mapping in this process
    uint32_t length;  // mapped length, as the driver gave it
};

struct kovlin_bufs {
    uint32_t count;
    kovlin_buf* entries;
};

kovlin_bufs* kovlin_bufs_new(uint32_t n);
// Entry i; an absent table or an index beyond it ends the program.
// NOLINTNEXTLINE(readability-identifier-length): `i`, the entry index as the API documents it
kovlin_buf* kovlin_bufs_at(kovlin_bufs* table, uint32_t i);
// Frees the table, not the mappings. Accepts NULL.
void kovlin_bufs_free(kovlin_bufs* table);
