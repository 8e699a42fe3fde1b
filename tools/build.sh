#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Configures and builds one flavour of the project, or only the targets named.
# Usage: tools/build.sh [native|sanitize|arm [TARGET...]]   (build tree: build/<flavour>)
set -euo pipefail
cd "$(dirname "$0")/.."

case "${1:-}" in
    -h | --help) sed -n '2,3s/^# //p' "$0"; exit 0 ;;
esac
flavour=${1:-native}
targets=("${@:2}")
args=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo)
case "$flavour" in
    native) ;;
    sanitize) args+=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCAMBOARD_SANITIZE=ON) ;;
    arm) args+=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/arm-linux-gnueabihf.cmake") ;;
    *) echo "tools/build.sh: unknown flavour '$flavour'" >&2; exit 2 ;;
esac

tree=build/$flavour
stamp=$tree/.configured-with

# A tree whose last configure failed (say, tried before the compiler was
# installed), was made with other settings, or names a compiler that is gone
# would fail or mislead every later run: such a cache is thrown away and the
# tree configured from scratch. The stamp is written only after a configure
# succeeded.
stale_cache() {
    [ -f "$tree/CMakeCache.txt" ] || return 1
    [ -f "$stamp" ] && [ "$(cat "$stamp")" = "${args[*]}" ] || return 0
    local compiler
    for compiler in $(sed -n 's/^CMAKE_\(C\|CXX\)_COMPILER:[A-Z]*=//p' "$tree/CMakeCache.txt"); do
        [ -x "$compiler" ] || command -v "$compiler" >/dev/null || return 0
    done
    return 1
}

if stale_cache; then
    echo "tools/build.sh: $tree was configured differently or its configure failed; configuring afresh"
    rm -rf "$tree/CMakeCache.txt" "$tree/CMakeFiles"
fi
rm -f "$stamp"
[ -f "$tree/CMakeCache.txt" ] || echo "tools/build.sh: configuring $tree"
cmake -S . -B "$tree" "${args[@]}" >/dev/null
printf '%s' "${args[*]}" > "$stamp"
if [ ${#targets[@]} -gt 0 ]; then
    cmake --build "$tree" --target "${targets[@]}"
else
    cmake --build "$tree"
fi
