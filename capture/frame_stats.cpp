// SPDX-License-Identifier: MIT
#include "frame_stats.h"

#include <cmath>

namespace {
double mean_size(const double* history) {
    double sum = 0.0;
    int counted = 0;
    for (int i = 0; i < kSizeHistory; ++i) {
        if (!std::isnan(history[i])) {
            sum += history[i];
            ++counted;
        }
    }
    return sum / counted;
}
}  // namespace

void print_frame_stats(FILE* out, const frame_stats& stats) {
    const auto period = static_cast<double>(stats.period_usec);
    const double rate = stats.period_usec == 0 ? 0.0 : 1000000.0 / period;
    // Kilobits per second over the current period; the first line, with no
    // period yet, shows infinity.
    const double period_msec = period / 1000.0;
    const double kbitrate = static_cast<double>(static_cast<uint32_t>(stats.len * 8)) / period_msec;
    const double avg = mean_size(stats.size_history) * 8.0 / period_msec;
    std::fprintf(out,
                 "stream: buf: %d, seq: %5u, bytes: %6u, frame period(usec): %6llu, rate: %6.3f, "
                 "jpeg search: %6llu, file sent: %6llu, kbitrate: %6.3f, avg: %6.3f ",
                 static_cast<int>(stats.index), stats.seq, stats.bytes,
                 static_cast<unsigned long long>(stats.period_usec), rate,
                 static_cast<unsigned long long>(stats.search_usec),
                 static_cast<unsigned long long>(stats.sent_usec), kbitrate, avg);
}
