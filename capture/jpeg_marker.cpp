// SPDX-License-Identifier: MIT
#include "jpeg_marker.h"

#include <cstring>

int find_jpeg_marker(const uint8_t* buf, uint8_t marker, int n) {
    int offset = 0;
    while (n - offset > 0) {
        const void* hit = std::memchr(buf + offset, 0xFF, static_cast<size_t>(n - offset));
        if (hit == nullptr) {
            return -1;
        }
        offset = static_cast<int>(static_cast<const uint8_t*>(hit) - buf);
        if (buf[offset + 1] == marker) {
            return offset;
        }
        ++offset;
    }
    return -1;
}

jpeg_search find_jpeg_image(const uint8_t* buf, uint32_t length, uint32_t bytesused,
                            uint32_t* start, uint32_t* size) {
    const int soi = find_jpeg_marker(buf, 0xD8, static_cast<int>(length) - 1);
    if (soi < 0) {
        return jpeg_search::no_start;
    }
    int64_t end;
    if (bytesused >= 2 && buf[bytesused - 2] == 0xFF && buf[bytesused - 1] == 0xD9) {
        end = bytesused - 2;
    } else {
        const int count = static_cast<int>(length) - soi - 3;
        const int eoi = count > 0 ? find_jpeg_marker(buf + soi + 2, 0xD9, count) : -1;
        if (eoi < 0) {
            return jpeg_search::no_end;
        }
        end = soi + 2 + eoi;
    }
    *start = static_cast<uint32_t>(soi);
    *size = end > soi ? static_cast<uint32_t>(end - soi + 2) : 0;
    return jpeg_search::found;
}
