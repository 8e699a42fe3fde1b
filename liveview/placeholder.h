// SPDX-License-Identifier: MIT
// The picture a stream shows while the camera is unavailable: a JPEG that
// says so, made once by tools/make_placeholder.sh and built into vshare.
#pragma once

#include <cstdint>
#include <span>

std::span<const uint8_t> placeholder_jpeg();
