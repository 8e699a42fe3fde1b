#include "command_line.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config_files.h"
#include "help_text.h"
#include "params.h"

namespace {

// The system commands run at once and end the program: nothing after them
// is looked at.
[[noreturn]] void showHelp(CommandLine* /*commandLine*/) {
    printHelp();
    std::exit(0);
}

[[noreturn]] void loadSavedConfiguration(CommandLine* /*commandLine*/) {
    writeConf(false);
    std::exit(0);
}

[[noreturn]] void saveConfiguration(CommandLine* /*commandLine*/) {
    readConf();
    std::exit(0);
}

[[noreturn]] void restoreDefaults(CommandLine* /*commandLine*/) {
    writeConf(true);
    std::exit(0);
}

// The options that are no parameter: each changes the command line or ends
// the program.
struct CommandOption {
    const char* option;
    void (*apply)(CommandLine* commandLine);
};

constexpr CommandOption kCommandOptions[] = {
    {"--help", showHelp},
    {"--writeconf", loadSavedConfiguration},
    {"--readconf", saveConfiguration},
    {"--restore", restoreDefaults},
    {"--osddisable", [](CommandLine* commandLine) { commandLine->clearOsd = true; }},
    {"--write", [](CommandLine* commandLine) { commandLine->mode = Mode::write; }},
    {"--read", [](CommandLine* commandLine) { commandLine->mode = Mode::read; }},
};

const CommandOption* commandOptionOf(const char* word) {
    for (const CommandOption& command : kCommandOptions) {
        if (std::strcmp(command.option, word) == 0) {
            return &command;
        }
    }
    return nullptr;
}

// A value word read as atoi reads it (blanks, sign, digits, anything after
// ignored); a number past an int's range is no value at all.
bool valueOf(const char* word, int32_t* value) {
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol(word, &end, 10);
    if (errno == ERANGE || number < INT_MIN || number > INT_MAX) {
        return false;
    }
    *value = end == word ? 0 : static_cast<int32_t>(number);
    return true;
}

[[noreturn]] void wrongInput() {
    std::printf("wrong input value!\n");
    std::exit(0);
}

// The value word after a parameter option in write mode, or the end of the
// program when there is none or it is out of the option's range.
int32_t takeValue(const PixParam& param, const char* word) {
    int32_t value = 0;
    if (word == nullptr || !valueOf(word, &value) || value < param.min || value > param.max) {
        wrongInput();
    }
    std::printf("%s = %d\n", param.echo, value);
    return value;
}

}  // namespace

CommandLine parseCommandLine(int argc, char* argv[]) {
    CommandLine commandLine;
    for (int i = 1; i < argc; ++i) {
        if (const CommandOption* command = commandOptionOf(argv[i])) {
            command->apply(&commandLine);
        } else if (const PixParam* param = paramByOption(argv[i])) {
            if (commandLine.mode == Mode::write) {
                commandLine.value = takeValue(*param, i + 1 < argc ? argv[i + 1] : nullptr);
                ++i;
            }
            commandLine.propertyId = param->id;
        }
        // Any other word is ignored.
    }
    return commandLine;
}
