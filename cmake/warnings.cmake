# SPDX-License-Identifier: MIT
# Every target of ours links this: strict warnings, warnings as errors. The
# code is kept clean of narrowing and sign changes and of shadowed names, and
# format strings are checked, so these stay on for good.
add_library(camboard_warnings INTERFACE)
target_compile_options(camboard_warnings INTERFACE
    -Wall -Wextra -Werror -Wshadow -Wconversion -Wsign-conversion -Wformat=2)
