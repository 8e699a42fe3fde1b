#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs, with apt-get, whatever this project needs that the machine lacks.
# Usage: tools/deps.sh [native] [sanitize] [arm] [demo] [package] [board]
#        (default: everything)
set -euo pipefail

want=("$@")
[ ${#want[@]} -gt 0 ] || want=(native sanitize arm demo package board)

# Installed without recommendations, so every package a test or build needs is
# named here, including those that are only recommendations of another.
# Every flavour: the build tools, the test runners and the programs the system
# tests drive (ffmpeg decodes frames, busybox serves the CGI scripts, chromium
# and firefox-esr show the page, v4l2-ctl is the standard client,
# gst-launch-1.0 runs the element, ustreamer is a peer that runs on the
# simulated camera). The ABI check compiles against Debian's armhf kernel and C
# library headers (the latter only a recommendation of the cross compiler).
# man-db and groff render the manual pages. vshare hashes its logins with
# libcrypt.
packages=(cmake ninja-build g++ git googletest python3 python3-pytest pkg-config
          gcc-arm-linux-gnueabihf linux-libc-dev-armhf-cross libc6-dev-armhf-cross qemu-user
          libgstreamer1.0-dev gstreamer1.0-tools gstreamer1.0-plugins-base
          gstreamer1.0-plugins-good libjpeg62-turbo-dev ffmpeg busybox chromium firefox-esr
          ustreamer v4l-utils man-db groff-base libcrypt-dev systemd)
arm=(g++-arm-linux-gnueabihf libgstreamer1.0-dev:armhf libjpeg62-turbo-dev:armhf
     libcrypt-dev:armhf)
# The Debian packages: dpkg-buildpackage with debhelper (it insists on
# build-essential, for a cross build too); dpkg-shlibdeps reads
# the shlibs of the armhf libraries themselves for the board's, the C++
# run-time's included; lintian checks the result.
package=(build-essential dpkg-dev debhelper file lintian libstdc++6:armhf)
# The board's userland: an armhf Debian root made by debootstrap and run
# through qemu-user-static's binfmt_misc entry (binfmt-support registers it;
# only a recommendation of qemu-user-static). qemu-user-static does not
# conflict with qemu-user, whose qemu-arm the arm flavour's tests use.
board=("${arm[@]}" "${package[@]}" debootstrap qemu-user-static binfmt-support)
for w in "${want[@]}"; do
    case "$w" in
        native) ;;
        # clang's sanitizer and libFuzzer run-times are only a recommendation of clang.
        sanitize) packages+=(clang libclang-rt-14-dev) ;;
        arm) packages+=("${arm[@]}") ;;
        demo) ;;
        package) packages+=("${package[@]}") ;;
        board) packages+=("${board[@]}") ;;
        *) echo "tools/deps.sh: unknown set '$w'" >&2; exit 2 ;;
    esac
done
mapfile -t packages < <(printf '%s\n' "${packages[@]}" | sort -u)

# The board's libraries come from Debian's armhf multiarch packages.
if [[ " ${packages[*]} " == *":armhf "* ]] && ! dpkg --print-foreign-architectures | grep -qx armhf; then
    dpkg --add-architecture armhf
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    # Another apt-get at work (say, the system's own updates) is waited for.
    lock=(-o DPkg::Lock::Timeout=600)
    apt-get "${lock[@]}" update -qq
    apt-get "${lock[@]}" install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
