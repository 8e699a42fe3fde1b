// SPDX-License-Identifier: MIT
// fdiv: prints the double-precision quotient of two decimal numbers.
//
// The operands are read the way the C library reads numbers (leading blanks,
// exponents, hex forms, inf and nan), but only a word that is wholly a number
// is taken: "1,5" or "one" would otherwise divide as 1 or 0 and print a
// plausible, wrong quotient.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "camboard_version.h"

namespace {

bool number_of(const char* word, double* value) {
    char* end = nullptr;
    *value = std::strtod(word, &end);
    return end != word && *end == '\0';
}

}  // namespace

int main(int argc, char* argv[]) {
    const char* const name = argc > 0 ? argv[0] : "fdiv";
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        print_camboard_version("fdiv");
        return 0;
    }
    double dividend = 0;
    double divisor = 0;
    if (argc != 3 || !number_of(argv[1], &dividend) || !number_of(argv[2], &divisor)) {
        std::fprintf(stderr, "Usage: %s dividend divisor\n", name);
        return 1;
    }

    // Division by zero is left to IEEE 754: inf, -inf or nan.
    const double quotient = dividend / divisor;
    std::printf("%f\n", quotient);

    // A quotient that never reached its reader (a full disk, a closed pipe)
    // must not look like success to the script that called us.
    if (std::fflush(stdout) != 0) {
        std::fprintf(stderr, "%s: write error: %s\n", name, std::strerror(errno));
        return 1;
    }
    return 0;
}
