#include "board_number.h"

#include <cstdlib>

int32_t board_strtol(const char* text) {
    const long value = std::strtol(text, nullptr, 0);
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}
