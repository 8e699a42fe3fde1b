// SPDX-License-Identifier: MIT
// Texts with which vcapture reports V4L2 values.
#pragma once

#include <cstdint>

const char* v4l2_field_name(uint32_t field);
// The four bytes of a fourcc, lowest first, in one static buffer that the
// next call overwrites.
const char* fourcc_text(uint32_t fourcc);
