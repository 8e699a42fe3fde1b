#!/usr/bin/env bash
# Sets up what is missing, builds, and runs the programs on the simulated board.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/deps.sh native demo
tools/build.sh native
bin=build/native/bin

echo "--- fdiv 1 3"
"$bin/fdiv" 1 3
