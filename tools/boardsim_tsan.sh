#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the simulator's thread tests (tests/unit/boardsim_threads_test.cpp)
# under ThreadSanitizer: the preload and the test built with clang's
# -fsanitize=thread into build/tsan, the preload loaded into the test as into
# any client. A data race in the driver's state fails a case (its report on
# standard error). Needs clang-14 and Debian's googletest sources.
# Usage: tools/boardsim_tsan.sh
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/tsan
mkdir -p "$out"
flags=(-std=c++20 -O1 -g -fsanitize=thread)
sources=$(sed -n '/^add_library(boardsim SHARED/,/\.cpp)$/p' boardsim/CMakeLists.txt |
          grep -oE '^ +[a-z_0-9]+\.cpp' | sed 's|^ *|boardsim/|')
# shellcheck disable=SC2086 # one word a source file
clang++-14 "${flags[@]}" -shared -fPIC -o "$out/libboardsim.so" $sources -ljpeg -ldl
gtest=/usr/src/googletest/googletest
clang++-14 "${flags[@]}" -isystem "$gtest/include" -isystem "$gtest" \
    tests/unit/boardsim_threads_test.cpp "$gtest/src/gtest-all.cc" "$gtest/src/gtest_main.cc" \
    -o "$out/boardsim_thread_tests" -lpthread -ldl
# Each case's process is started afresh (ThreadSanitizer does not follow a
# fork of a process that has its own threads); the symbolizer runs without
# the preload.
env LD_PRELOAD="$PWD/$out/libboardsim.so" \
    TSAN_OPTIONS="external_symbolizer_path=$(command -v llvm-symbolizer-14 || true)" \
    "$out/boardsim_thread_tests" --gtest_death_test_style=threadsafe
