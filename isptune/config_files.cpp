// SPDX-License-Identifier: MIT
#include "config_files.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

#include "comm.h"
#include "params.h"
#include "pixim_commands.h"
#include "pixim_packet.h"
#include "replacement_file.h"

namespace {

// At most this many lines are parsed, and a line is read in pieces of at most
// kLineSize - 1 characters, each taken as a line.
constexpr size_t kMaxLines = 20;
constexpr int kLineSize = 100;

// Negative values of the offset-encoded lines are stored as 100 - v, which
// for the most negative 32-bit value is beyond an int.
int64_t encode(const PixParam& param, int32_t value) {
    return param.offset_encoded && value < 0 ? 100 - int64_t{value} : value;
}

// A line's number as the module receives it.
int32_t decode(const PixParam& param, int32_t number) {
    switch (param.type) {
        case PixTypeS16:
            if (param.offset_encoded) {
                const auto value = static_cast<int16_t>(number & 0xFFFF);
                return value > 100 ? 100 - value : value;
            }
            return number & 0xFFFF;
        case PixTypeS32:
            return number > 100 ? 100 - number : number;
        case PixTypeS8:
            return static_cast<int32_t>((number > 100 ? 100 - int64_t{number} : number) & 0xFF);
        default:
            return number & 0xFF;
    }
}

// A line that begins (after blanks) with a decimal number that fits an int.
bool parse_line(const char* line, int32_t* out) {
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol(line, &end, 10);
    if (end == line || errno == ERANGE || number < INT32_MIN || number > INT32_MAX) {
        return false;
    }
    *out = static_cast<int32_t>(number);
    return true;
}

// Reads every property into the file. False when the module stopped
// answering: what it would have saved is not the module's configuration.
bool saveProperties(FILE* file) {
    for (const PixParam& param : kParams) {
        uint8_t buffer[4] = {};
        GetProperty(param.id, param.type, buffer);
        if (exchangeTimedOut()) {
            return false;
        }
        std::fprintf(file, "%" PRId64 "\n", encode(param, bufferToValue(param.type, buffer)));
    }
    return true;
}

// The numbers of the file's first lines, up to the first line that is no
// number; returns how many were stored.
size_t readNumbers(FILE* file, std::span<int32_t, kMaxLines> numbers) {
    size_t stored = 0;
    char line[kLineSize];
    while (std::fgets(line, sizeof line, file) != nullptr && stored < numbers.size() &&
           parse_line(line, &numbers[stored])) {
        ++stored;
    }
    return stored;
}

// The first rows, each with the number of its line.
void sendProperties(std::span<const int32_t> numbers) {
    for (size_t row = 0; row < numbers.size(); ++row) {
        const PixParam& param = kParams[row];
        uint8_t buffer[4] = {};
        valueToBuffer(decode(param, numbers[row]), param.type, buffer);
        SetProperty(param.id, param.type, buffer);
    }
}

// "Cannot open PATH file" on standard output, where scripts read it, and
// why on standard error (errno of the failed open).
void reportCannotOpen(const char* path) {
    const int reason = errno;
    std::printf("Cannot open %s file\n", path);
    std::fflush(stdout);
    std::fprintf(stderr, "isptune: cannot open %s: %s\n", path, std::strerror(reason));
}

}  // namespace

void readConf() {
    // The saved configuration is replaced only by a complete new one.
    ReplacementFile conf(kConfPath);
    if (conf.file() == nullptr) {
        reportCannotOpen(kConfPath);
        return;
    }
    if (commInit() != 0) {
        commInitFailed();
        return;
    }
    const bool complete = saveProperties(conf.file());
    commClose();
    if (!complete) {
        std::printf("configuration not saved: %s is unchanged\n", kConfPath);
    } else if (!conf.commit()) {
        std::printf("Cannot write %s file\n", kConfPath);
    }
}

void writeConf(bool restoreDefaults) {
    const char* path = restoreDefaults ? kDefaultConfPath : kConfPath;
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) {
        reportCannotOpen(path);
        return;
    }
    if (commInit() != 0) {
        commInitFailed();
        std::fclose(file);
        return;
    }
    int32_t numbers[kMaxLines];
    const size_t present = std::min(readNumbers(file, numbers), std::size(kParams));
    // Rows without a number in the file are left as the module has them.
    if (present < std::size(kParams)) {
        std::printf("%zu of %d properties are missing from %s and were not sent\n",
                    std::size(kParams) - present, kParamCount, path);
    }
    sendProperties(std::span(numbers).first(present));
    commClose();
    std::fclose(file);
}
