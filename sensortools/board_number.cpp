// SPDX-License-Identifier: MIT
#include "board_number.h"

#include <cstdlib>

namespace {

long clamp_to_board(long value) {
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return value;
}

}  // namespace

int32_t board_strtol(const char* text) {
    return static_cast<int32_t>(clamp_to_board(std::strtol(text, nullptr, 0)));
}

bool board_number_word(const char* text, int32_t* value) {
    char* end = nullptr;
    const long number = std::strtol(text, &end, 0);
    if (end == text || *end != '\0') {
        return false;
    }
    *value = static_cast<int32_t>(clamp_to_board(number));
    return true;
}
