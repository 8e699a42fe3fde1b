# Every target of ours links this: strict warnings, warnings as errors.
add_library(camboard_warnings INTERFACE)
target_compile_options(camboard_warnings INTERFACE -Wall -Wextra -Werror)
