#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Sets up what is missing, builds, and runs every test of one flavour.
# Usage: tools/test.sh [native|sanitize|arm|board]   (default: native)
#   board: builds the Debian packages (tools/package.sh) and installs the
#   board's in an emulated armhf Debian root, where they run as ARM processes
#   (tests/board/); needs root.
set -euo pipefail
cd "$(dirname "$0")/.."

flavour=${1:-native}
if [ "$flavour" = board ]; then
    tools/deps.sh board
    tools/package.sh
    # The simulator, which the tests copy into the root, is built for ARM on
    # its own: no package carries it.
    cmake -S . -B build/boardsim-armhf -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/arm-linux-gnueabihf.cmake" -DCAMBOARD_TESTS=OFF >/dev/null
    cmake --build build/boardsim-armhf --target boardsim pixim_emulator >/dev/null
    exec /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/board \
        --packages=build/packages --simulator=build/boardsim-armhf
fi
tools/deps.sh "$flavour"
tools/build.sh "$flavour"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
jobs=$(nproc)
ctest --test-dir "build/$flavour" --output-on-failure -j "$jobs"
if [ "$flavour" = sanitize ]; then
    # The simulator is called from a client's threads (GStreamer's): its
    # thread cases once more under ThreadSanitizer, which ASan cannot share a
    # build with.
    tools/boardsim_tsan.sh
fi
