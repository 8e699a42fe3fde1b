// SPDX-License-Identifier: MIT
#include "command_line.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "camboard_version.h"
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

[[noreturn]] void showVersion(CommandLine* /*commandLine*/) {
    print_camboard_version("isptune");
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
    bool ends;  // nothing after it is looked at
};

constexpr CommandOption kCommandOptions[] = {
    {"--help", showHelp, true},
    {"-h", showHelp, true},
    {"--version", showVersion, true},
    {"--writeconf", loadSavedConfiguration, true},
    {"--readconf", saveConfiguration, true},
    {"--restore", restoreDefaults, true},
    {"--osddisable", [](CommandLine* commandLine) { commandLine->clearOsd = true; }, false},
    {"--write", [](CommandLine* commandLine) { commandLine->mode = Mode::write; }, false},
    {"--read", [](CommandLine* commandLine) { commandLine->mode = Mode::read; }, false},
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

// A word that reads as an option but is none of ours. Numbers are no
// options: a value word where none is taken is ignored.
bool isUnknownOption(const char* word) {
    if (word[0] != '-') {
        return false;
    }
    char* end = nullptr;
    std::strtol(word, &end, 10);
    return end == word || *end != '\0';
}

// A mistyped command line is refused before anything is done: the module
// would otherwise get a request the user never asked for, and "OK".
[[noreturn]] void refuse(const char* before, const char* word, const char* after) {
    std::fprintf(stderr, "isptune: %s%s%s\n", before, word, after);
    printHelp(stderr);
    std::exit(1);
}

// Walks the arguments as parseCommandLine() does, but only to find a word
// that is no option of ours; the value words of a write are skipped.
void refuseUnknownOptions(int argc, char* argv[]) {
    bool writing = false;
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        if (const CommandOption* command = commandOptionOf(word)) {
            if (command->ends) {
                return;
            }
            if (std::strcmp(word, "--write") == 0 || std::strcmp(word, "--read") == 0) {
                writing = std::strcmp(word, "--write") == 0;
            }
        } else if (paramByOption(word) != nullptr) {
            i += writing ? 1 : 0;
        } else if (isUnknownOption(word)) {
            refuse("unknown option '", word, "'");
        }
    }
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
    refuseUnknownOptions(argc, argv);
    CommandLine commandLine;
    bool hasParameter = false;
    for (int i = 1; i < argc; ++i) {
        if (const CommandOption* command = commandOptionOf(argv[i])) {
            command->apply(&commandLine);
        } else if (const PixParam* param = paramByOption(argv[i])) {
            if (commandLine.mode == Mode::write) {
                commandLine.value = takeValue(*param, i + 1 < argc ? argv[i + 1] : nullptr);
                ++i;
            }
            commandLine.propertyId = param->id;
            hasParameter = true;
        }
        // Any other word is ignored.
    }
    // Without a parameter option a write or read would reach property 0,
    // which is none of the module's properties.
    if (commandLine.mode != Mode::none && !hasParameter && !commandLine.clearOsd) {
        refuse("", commandLine.mode == Mode::write ? "--write" : "--read",
               " needs a parameter option");
    }
    return commandLine;
}
