#!/usr/bin/env bash
# Sets up what is missing, builds, and runs every test of one flavour.
# Usage: tools/test.sh [native|sanitize|arm]   (default: native)
set -euo pipefail
cd "$(dirname "$0")/.."

flavour=${1:-native}
tools/deps.sh "$flavour"
tools/build.sh "$flavour"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
jobs=$(nproc)
ctest --test-dir "build/$flavour" --output-on-failure -j "$jobs"
