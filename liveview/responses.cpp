// SPDX-License-Identifier: MIT
#include "responses.h"

#include <cstdio>

size_t format_snapshot_head(char* buffer, size_t size, size_t length) {
    const int formatted = std::snprintf(buffer, size,
                                        "Content-Type: image/jpeg\r\nContent-Length: %zu\r\n"
                                        "Cache-Control: no-cache\r\n\r\n",
                                        length);
    if (formatted < 0) {
        return 0;
    }
    return static_cast<size_t>(formatted) < size ? static_cast<size_t>(formatted) : size - 1;
}
