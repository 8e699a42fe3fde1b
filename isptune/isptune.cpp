// SPDX-License-Identifier: MIT
// isptune: reads or writes one image property of the Pixim camera module,
// saves and loads its whole configuration, and clears its on-screen text.
#include <cstdio>

#include "comm.h"
#include "command_line.h"
#include "params.h"
#include "pixim_commands.h"

namespace {

void writeProperty(uint16_t id, int32_t value) {
    const int type = paramTypeOf(id);
    uint8_t buffer[4] = {};
    valueToBuffer(value, type, buffer);
    const int result = SetProperty(id, type, buffer);
    if (result == 0) {
        std::printf("OK\n");
    } else {
        std::printf("Error. Return code: %d\n", result);
    }
}

void readProperty(uint16_t id) {
    const int type = paramTypeOf(id);
    uint8_t buffer[4] = {};
    const int result = GetProperty(id, type, buffer);
    if (result == 0) {
        std::printf("%d\n", bufferToValue(type, buffer));
    } else {
        std::printf("Error. Return code: %d\n", result);
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    const CommandLine commandLine = parseCommandLine(argc, argv);
    if (const int result = commInit(); result != 0) {
        commInitFailed();
        return result;
    }
    if (commandLine.clearOsd) {
        OsdClearText(0);  // the whole screen
    } else if (commandLine.mode == Mode::write) {
        writeProperty(commandLine.propertyId, commandLine.value);
    } else if (commandLine.mode == Mode::read) {
        readProperty(commandLine.propertyId);
    }
    commClose();
    return 0;
}
