#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian packages of the board's software and checks them with
# lintian: camboard-tools (the programs and their manual pages),
# gstreamer1.0-vxrate (the GStreamer element), camboard-liveview (the live
# view's page and vshare's units, architecture all), and -dbgsym packages with the
# programs' and the element's debugging information.
#
# Usage: tools/package.sh [armhf] [host]   (default: both)
#   armhf  the board's packages, from the arm-linux-gnueabihf cross build
#   host   the packages of this machine's architecture
# The packages land in build/packages/; each architecture is built in a tree
# of its own, build/package-ARCH (a release build with debugging
# information, installed under /usr with the configuration in /etc).
set -euo pipefail
cd "$(dirname "$0")/.."

case "${1:-}" in
    -h | --help) sed -n '/^set /q; 2,$ s/^# \{0,1\}//p' "$0"; exit 0 ;;
esac
want=("$@")
[ ${#want[@]} -gt 0 ] || want=(armhf host)
sets=(native package)
for w in "${want[@]}"; do
    case "$w" in
        armhf) sets+=(arm) ;;
        host) ;;
        *) echo "tools/package.sh: unknown architecture '$w' (armhf or host)" >&2; exit 2 ;;
    esac
done
echo "== Checking the packages the build needs (apt-get installs what is missing)"
tools/deps.sh "${sets[@]}"

out=$PWD/build/packages
mkdir -p "$out"
built=()

# CPack writes its staging tree's absolute paths into a -dbgsym package's
# md5sums and leaves it without a documentation directory: both are put right
# the way Debian's own debug packages have them (the directory a link to the
# one of the package whose symbols it holds).
repair_dbgsym() {
    local ddeb=$1 root package
    root=$(mktemp -d)
    dpkg-deb -R "$ddeb" "$root"
    package=$(dpkg-deb -f "$ddeb" Package)
    mkdir -p "$root/usr/share/doc"
    ln -s "${package%-dbgsym}" "$root/usr/share/doc/$package"
    (cd "$root" && find usr -type f -printf '%P\0' | sort -z | sed -z 's|^|usr/|' \
        | xargs -0 md5sum) > "$root/DEBIAN/md5sums"
    dpkg-deb --root-owner-group -b "$root" "$ddeb" >/dev/null
    rm -rf "$root"
}

# Keeps the build's output in LOG and shows only ninja's step counter, on one
# line on a terminal, else at every tenth of the build.
show_progress() {  # LOG
    local log=$1 line shown=-1 step total
    : >"$log"
    while IFS= read -r line; do
        printf '%s\n' "$line" >>"$log"
        [[ $line =~ ^\[([0-9]+)/([0-9]+)\] ]] || continue
        step=${BASH_REMATCH[1]} total=${BASH_REMATCH[2]}
        if [ -t 1 ]; then
            printf "\r   building: step %s of %s" "$step" "$total"
        elif ((step * 10 / total != shown)); then
            shown=$((step * 10 / total))
            echo "   building: step $step of $total"
        fi
    done
    [ ! -t 1 ] || echo
}

# build_packages ARCH [CMAKE ARGUMENTS...]
build_packages() {
    local arch=$1
    shift
    local tree=build/package-$arch multiarch
    multiarch=$(dpkg-architecture -f -a "$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)
    echo "== Packages for $arch, built in $tree: configuring"
    # Debian's compiler and linker flags for the architecture, all hardening
    # included. CMake takes them from the environment at the first configure
    # only, so every run configures afresh.
    local CFLAGS CXXFLAGS LDFLAGS flags=(env DEB_HOST_ARCH="$arch"
        DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get)
    CFLAGS="$("${flags[@]}" CFLAGS) $("${flags[@]}" CPPFLAGS)"
    CXXFLAGS="$("${flags[@]}" CXXFLAGS) $("${flags[@]}" CPPFLAGS)"
    LDFLAGS=$("${flags[@]}" LDFLAGS)
    export CFLAGS CXXFLAGS LDFLAGS
    rm -rf "$tree/CMakeCache.txt" "$tree/CMakeFiles"
    cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCAMBOARD_TESTS=OFF \
        -DCAMBOARD_COMPRESS_MAN=ON -DCMAKE_INSTALL_PREFIX=/usr \
        -DCMAKE_INSTALL_LIBDIR="lib/$multiarch" -DCMAKE_INSTALL_SYSCONFDIR=/etc \
        -DCAMBOARD_SYSTEMD_UNITDIR=/lib/systemd/system "$@" >/dev/null
    echo "   building (the compiler's output goes to $tree/build.log)"
    cmake --build "$tree" -j "$(nproc)" 2>&1 | show_progress "$tree/build.log" \
        || { cat "$tree/build.log"; exit 1; }
    echo "   packing with cpack"
    rm -rf "$tree/packages"
    # dpkg-shlibdeps reads the shared libraries of the packages' architecture.
    (cd "$tree" && DEB_HOST_ARCH=$arch cpack -G DEB -B "$PWD/packages" >cpack.log) \
        || { cat "$tree/cpack.log"; exit 1; }
    local package
    for package in "$tree"/packages/*.ddeb; do repair_dbgsym "$package"; done
    for package in "$tree"/packages/*.deb "$tree"/packages/*.ddeb; do
        cp "$package" "$out/"
        built+=("$out/$(basename "$package")")
    done
}

for w in "${want[@]}"; do
    case "$w" in
        armhf) build_packages armhf -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/arm-linux-gnueabihf.cmake" ;;
        host) build_packages "$(dpkg --print-architecture)" ;;
    esac
done

# The architecture-independent package comes out of every build alike.
mapfile -t built < <(printf '%s\n' "${built[@]}" | sort -u)
echo "== Checking the packages with lintian"
packaging/check.sh "${built[@]}"
echo "== The packages are in $out"
