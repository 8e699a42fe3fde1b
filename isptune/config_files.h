// SPDX-License-Identifier: MIT
// The module's whole configuration in a file: saved to /etc/pixim.conf,
// loaded from it, or restored from /etc/piximdef.conf.
#pragma once

inline constexpr const char* kConfPath = "/etc/pixim.conf";
inline constexpr const char* kDefaultConfPath = "/etc/piximdef.conf";

void readConf();
void writeConf(bool restoreDefaults);
