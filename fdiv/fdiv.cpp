// fdiv: prints the double-precision quotient of two decimal numbers.
//
// The operands go through atof() on purpose: the board's scripts pass numbers
// with leading blanks, exponents, hex forms or trailing units, and expect
// whatever the C library makes of them (0.0 for text that is no number).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char* argv[]) {
    const char* const name = argc > 0 ? argv[0] : "fdiv";
    if (argc != 3) {
        std::fprintf(stderr, "Usage: %s dividend divisor\n", name);
        return 1;
    }

    // Division by zero is left to IEEE 754: inf, -inf or nan.
    const double quotient = std::atof(argv[1]) / std::atof(argv[2]);
    std::printf("%f\n", quotient);

    // A quotient that never reached its reader (a full disk, a closed pipe)
    // must not look like success to the script that called us.
    if (std::fflush(stdout) != 0) {
        std::fprintf(stderr, "%s: write error: %s\n", name, std::strerror(errno));
        return 1;
    }
    return 0;
}
