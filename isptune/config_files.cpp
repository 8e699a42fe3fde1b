#include "config_files.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "comm.h"
#include "params.h"
#include "pixim_commands.h"
#include "pixim_packet.h"
#include "replacement_file.h"

namespace {

// Negative values of the offset-encoded lines are stored as 100 - v, which
// for the most negative 32-bit value is beyond an int.
int64_t encode(const PixParam& p, int32_t value) {
    return p.offset_encoded && value < 0 ? 100 - int64_t{value} : value;
}

// A line's number as the module receives it.
int32_t decode(const PixParam& p, int32_t n) {
    switch (p.type) {
        case PixTypeS16:
            if (p.offset_encoded) {
                const auto v = static_cast<int16_t>(n & 0xFFFF);
                return v > 100 ? 100 - v : v;
            }
            return n & 0xFFFF;
        case PixTypeS32:
            return n > 100 ? 100 - n : n;
        case PixTypeS8:
            return static_cast<int32_t>((n > 100 ? 100 - int64_t{n} : n) & 0xFF);
        default:
            return n & 0xFF;
    }
}

// A line that begins (after blanks) with a decimal number that fits an int.
bool parse_line(const char* line, int32_t* out) {
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(line, &end, 10);
    if (end == line || errno == ERANGE || n < INT32_MIN || n > INT32_MAX) {
        return false;
    }
    *out = static_cast<int32_t>(n);
    return true;
}

// Reads every property into the file. False when the module stopped
// answering: what it would have saved is not the module's configuration.
bool saveProperties(FILE* file) {
    for (const PixParam& p : kParams) {
        uint8_t buffer[4] = {};
        GetProperty(p.id, p.type, buffer);
        if (exchangeTimedOut()) {
            return false;
        }
        std::fprintf(file, "%" PRId64 "\n", encode(p, bufferToValue(p.type, buffer)));
    }
    return true;
}

}  // namespace

void readConf() {
    // The saved configuration is replaced only by a complete new one.
    ReplacementFile conf(kConfPath);
    if (conf.file() == nullptr) {
        std::printf("Cannot open %s file\n", kConfPath);
        return;
    }
    if (commInit() != 0) {
        std::printf("commInit  Error\n");
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
        std::printf("Cannot open %s file\n", path);
        return;
    }
    if (commInit() != 0) {
        std::printf("commInit  Error\n");
        std::fclose(file);
        return;
    }
    int32_t numbers[20];
    int stored = 0;
    char line[100];
    while (std::fgets(line, sizeof line, file) != nullptr && stored < 20 &&
           parse_line(line, &numbers[stored])) {
        ++stored;
    }
    // Rows without a number in the file are left as the module has them.
    const int present = stored < kParamCount ? stored : kParamCount;
    if (present < kParamCount) {
        std::printf("%d of %d properties are missing from %s and were not sent\n",
                    kParamCount - present, kParamCount, path);
    }
    for (int i = 0; i < present; ++i) {
        uint8_t buffer[4] = {};
        valueToBuffer(decode(kParams[i], numbers[i]), kParams[i].type, buffer);
        SetProperty(kParams[i].id, kParams[i].type, buffer);
    }
    commClose();
    std::fclose(file);
}
