#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks that the packages are reproducible: builds them twice from the same
# source, in two build trees of different paths, and compares every package
# byte for byte. Differences are shown with diffoscope when it is installed,
# else as the packages' listings.
#
# Usage: tools/reproducible.sh [ARCH...]   (default: armhf, the board's)
# The two builds are in build/repro/first and build/repro/second-build.
set -euo pipefail
cd "$(dirname "$0")/.."

case "${1:-}" in
    -h | --help) sed -n '/^set /q; 2,$ s/^# \{0,1\}//p' "$0"; exit 0 ;;
esac
archs=("$@")
[ ${#archs[@]} -gt 0 ] || archs=(armhf)
# shellcheck source=packaging/build.sh
. packaging/build.sh
prepare_packaging "${archs[@]}"

status=0
for arch in "${archs[@]}"; do
    first=build/repro/first/$arch second=build/repro/second-build/$arch
    build_packages "$arch" "$first"
    build_packages "$arch" "$second"
    echo "== Comparing the two builds for $arch"
    for deb in "$first"/*.deb; do
        name=$(basename "$deb")
        if cmp -s "$deb" "$second/$name"; then
            echo "   same: $name $(sha256sum <"$deb" | cut -c1-16)"
            continue
        fi
        echo "   DIFFERENT: $name" >&2
        status=1
        if command -v diffoscope >/dev/null; then
            diffoscope "$deb" "$second/$name" >&2 || true
        else
            diff <(dpkg-deb -c "$deb") <(dpkg-deb -c "$second/$name") >&2 || true
        fi
    done
done
[ $status -eq 0 ] && echo "== The builds are identical" || echo "tools/reproducible.sh: the builds differ" >&2
exit $status
