# SPDX-License-Identifier: MIT
# 64-bit file offsets on the 32-bit board: a capture written to a file passes
# 2 GiB within minutes, and without them every write after that fails. The
# driver's records do not change: none of them holds an off_t. On 64-bit
# hosts this changes nothing. Public on the libraries, so that the programs
# and the tests that use them see the same types.
add_library(camboard_large_files INTERFACE)
target_compile_definitions(camboard_large_files INTERFACE _FILE_OFFSET_BITS=64)
