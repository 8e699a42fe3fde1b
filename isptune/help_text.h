// SPDX-License-Identifier: MIT
// isptune's help text.
#pragma once

#include <cstdio>
#include <span>

// The lines between the empty first and last ones, without their newlines.
std::span<const char* const> helpLines();
// An empty line, the help lines, an empty line, on standard output (or on
// `stream`).
void printHelp(std::FILE* stream = stdout);
