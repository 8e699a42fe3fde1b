#!/usr/bin/env bash
# Configures and builds one flavour of the project.
# Usage: tools/build.sh native|sanitize|arm   (build tree: build/<flavour>)
set -euo pipefail
cd "$(dirname "$0")/.."

flavour=${1:-native}
args=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo)
case "$flavour" in
    native) ;;
    sanitize) args+=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCAMBOARD_SANITIZE=ON) ;;
    arm) args+=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/arm-linux-gnueabihf.cmake") ;;
    *) echo "tools/build.sh: unknown flavour '$flavour'" >&2; exit 2 ;;
esac

cmake -S . -B "build/$flavour" "${args[@]}" >/dev/null
cmake --build "build/$flavour"
