// SPDX-License-Identifier: MIT
// Locating the JPEG image in a capture buffer. Input: four bytes that pick
// bytesused (kept within the buffer, as the frame loop keeps it), the rest
// is the mapped buffer, allocated to its exact size so that any read past it
// is caught.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "jpeg_marker.h"

namespace {

int naive_find(const uint8_t* buf, uint8_t marker, int n) {
    for (int k = 0; k < n; ++k) {
        if (buf[k] == 0xFF && buf[k + 1] == marker) {
            return k;
        }
    }
    return -1;
}

void check_image(const uint8_t* buf, uint32_t length, uint32_t bytesused) {
    uint32_t start = 0;
    uint32_t size = 0;
    const jpeg_search found = find_jpeg_image(buf, length, bytesused, &start, &size);
    const int soi = naive_find(buf, 0xD8, static_cast<int>(length) - 1);
    if ((found == jpeg_search::no_start) != (soi < 0)) {
        std::abort();
    }
    if (found != jpeg_search::found) {
        return;
    }
    if (start != static_cast<uint32_t>(soi) || uint64_t{start} + size > length) {
        std::abort();  // the image lies inside the buffer, from its first start marker
    }
    if (size > 0 && (size < 4 || buf[start + size - 2] != 0xFF || buf[start + size - 1] != 0xD9)) {
        std::abort();  // and ends with an end marker
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4 || size - 4 > 1 << 20) {
        return 0;
    }
    const auto length = static_cast<uint32_t>(size - 4);
    uint32_t pick = 0;
    std::memcpy(&pick, data, 4);
    const uint32_t bytesused = pick % (length + 1);
    const auto buf = std::make_unique<uint8_t[]>(length);
    std::memcpy(buf.get(), data + 4, length);

    // The marker search on its own, for the marker the first byte names.
    const int n = static_cast<int>(length) - 1;
    if (find_jpeg_marker(buf.get(), data[0], n) != naive_find(buf.get(), data[0], n)) {
        std::abort();
    }
    check_image(buf.get(), length, bytesused);
    return 0;
}
