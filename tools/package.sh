#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian packages of the board's software with dpkg-buildpackage
# (debian/) and checks them with lintian: camboard-tools (the programs and
# their manual pages), gstreamer1.0-vxrate (the GStreamer element),
# camboard-liveview (the live view's page, settings and units, architecture
# all), -dbgsym packages with the programs' and the element's debugging
# information, and the source package they all come from.
#
# Usage: tools/package.sh [armhf] [host]   (default: both)
#   armhf  the board's packages, cross-built (build profile nocheck: the
#          board's binaries cannot run here)
#   host   the packages of this machine's architecture (nocheck too: the
#          tests run from tools/test.sh; dpkg-buildpackage without it runs
#          the unit tests)
# Each architecture is built from a copy of the source tree (what git tracks,
# and new files it does not ignore) in build/deb-ARCH, since
# dpkg-buildpackage writes beside the tree it builds. The packages land in
# build/packages/; nothing is written outside the clone.
set -euo pipefail
cd "$(dirname "$0")/.."

case "${1:-}" in
    -h | --help) sed -n '/^set /q; 2,$ s/^# \{0,1\}//p' "$0"; exit 0 ;;
esac
want=("$@")
[ ${#want[@]} -gt 0 ] || want=(armhf host)
for w in "${want[@]}"; do
    case "$w" in
        armhf | host) ;;
        *) echo "tools/package.sh: unknown architecture '$w' (armhf or host)" >&2; exit 2 ;;
    esac
done
echo "== Checking the packages the build needs (apt-get installs what is missing)"
# shellcheck source=packaging/build.sh
. packaging/build.sh
prepare_packaging "${want[@]}"
out=$PWD/build/packages
mkdir -p "$out"

# The source package, which dpkg-buildpackage -S would make from a clean tree.
build_source() {
    local dir=build/deb-source
    echo "== The source package, built in $dir"
    copy_source "$dir/camboard-$version"
    (cd "$dir" && dpkg-source -b "camboard-$version" >source.log 2>&1) \
        || { cat "$dir/source.log"; exit 1; }
}

built=()
for w in "${want[@]}"; do
    case "$w" in
        armhf) arch=armhf ;;
        host) arch=$(dpkg --print-architecture) ;;
    esac
    rm -f "$out"/*_"$arch".deb "$out"/*.ddeb
    build_packages "$arch"
    for f in build/deb-"$arch"/*.deb; do
        cp "$f" "$out/"
        built+=("$out/$(basename "$f")")
    done
done
build_source
cp build/deb-source/*.dsc build/deb-source/*.tar.* "$out/"
built+=("$out/camboard_$version.dsc")

# The architecture-independent package comes out of every build alike.
mapfile -t built < <(printf '%s\n' "${built[@]}" | sort -u)
echo "== Checking the packages with lintian"
packaging/check.sh "${built[@]}"
echo "== The packages are in $out"
