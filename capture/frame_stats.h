// SPDX-License-Identifier: MIT
// The per-frame statistics line.
#pragma once

#include <cstdint>
#include <cstdio>

inline constexpr int kSizeHistory = 10;

struct frame_stats {
    uint32_t index;
    uint32_t seq;
    uint32_t bytes;
    uint64_t period_usec;  // between the last two dequeues with a line; 0 on the first
    uint64_t search_usec;
    uint64_t sent_usec;
    uint32_t len;                // bytes of this frame passed to the sink
    const double* size_history;  // the last (at most) ten lens, NaN where none yet
};

// Writes the line (without "\r" before or "\n" after it).
void print_frame_stats(FILE* out, const frame_stats& stats);
