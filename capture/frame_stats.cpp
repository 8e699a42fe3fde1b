#include "frame_stats.h"

#include <cmath>

namespace {
double mean_size(const double* history) {
    double sum = 0.0;
    int n = 0;
    for (int i = 0; i < kSizeHistory; ++i) {
        if (!std::isnan(history[i])) {
            sum += history[i];
            ++n;
        }
    }
    return sum / n;
}
}  // namespace

void print_frame_stats(FILE* out, const frame_stats& s) {
    const auto period = static_cast<double>(s.period_usec);
    const double rate = s.period_usec == 0 ? 0.0 : 1000000.0 / period;
    // Kilobits per second over the current period; the first line, with no
    // period yet, shows infinity.
    const double period_msec = period / 1000.0;
    const double kbitrate = static_cast<double>(static_cast<uint32_t>(s.len * 8)) / period_msec;
    const double avg = mean_size(s.size_history) * 8.0 / period_msec;
    std::fprintf(out,
                 "stream: buf: %d, seq: %5u, bytes: %6u, frame period(usec): %6llu, rate: %6.3f, "
                 "jpeg search: %6llu, file sent: %6llu, kbitrate: %6.3f, avg: %6.3f ",
                 static_cast<int>(s.index), s.seq, s.bytes,
                 static_cast<unsigned long long>(s.period_usec), rate,
                 static_cast<unsigned long long>(s.search_usec),
                 static_cast<unsigned long long>(s.sent_usec), kbitrate, avg);
}
