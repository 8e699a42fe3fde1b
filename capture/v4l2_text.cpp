// SPDX-License-Identifier: MIT
#include "v4l2_text.h"

#include <cstdio>

namespace {
constexpr const char* kFieldNames[] = {
    "V4L2_FIELD_ANY",           "V4L2_FIELD_NONE",       "V4L2_FIELD_TOP",
    "V4L2_FIELD_BOTTOM",        "V4L2_FIELD_INTERLACED", "V4L2_FIELD_SEQ_TB",
    "V4L2_FIELD_SEQ_BT",        "V4L2_FIELD_ALTERNATE",  "V4L2_FIELD_INTERLACED_TB",
    "V4L2_FIELD_INTERLACED_BT",
};
}  // namespace

const char* v4l2_field_name(uint32_t field) {
    constexpr uint32_t known = sizeof kFieldNames / sizeof kFieldNames[0];
    return field < known ? kFieldNames[field] : "Unknown V4L2_FIELD";
}

const char* fourcc_text(uint32_t fourcc) {
    static char text[5];
    std::snprintf(text, sizeof text, "%c%c%c%c", static_cast<char>(fourcc & 0xFF),
                  static_cast<char>((fourcc >> 8) & 0xFF), static_cast<char>((fourcc >> 16) & 0xFF),
                  static_cast<char>((fourcc >> 24) & 0xFF));
    return text;
}
