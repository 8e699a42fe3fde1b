// SPDX-License-Identifier: MIT
// isptune's command line: what it asks the module to do.
#pragma once

#include <cstdint>

enum class Mode { none, write, read };

struct CommandLine {
    Mode mode = Mode::none;   // the last --write or --read wins
    bool clearOsd = false;    // --osddisable: clear the on-screen text, nothing else
    uint16_t propertyId = 0;  // the last parameter option's; 0 when none was given
    int32_t value = 0;        // the last value taken in write mode
};

// Walks the arguments in order. The system commands (--help, -h, --version,
// --writeconf, --readconf, --restore) run where they stand and end the
// program with status 0, and so does a value outside its option's range,
// after "wrong input value!". An unknown option, or --write or --read
// without a parameter option, ends it with status 1 and the help text on
// standard error, before anything else is done.
CommandLine parseCommandLine(int argc, char* argv[]);
