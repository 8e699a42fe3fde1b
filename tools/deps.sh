#!/usr/bin/env bash
# Installs, with apt-get, whatever this project needs that the machine lacks.
# Usage: tools/deps.sh [native] [sanitize] [arm] [demo]   (default: everything)
set -euo pipefail

want=("$@")
[ ${#want[@]} -gt 0 ] || want=(native sanitize arm demo)

# The ABI check compiles against Debian's armhf kernel headers in every flavour.
packages=(cmake ninja-build g++ git googletest python3 python3-pytest pkg-config
          gcc-arm-linux-gnueabihf linux-libc-dev-armhf-cross qemu-user
          libgstreamer1.0-dev gstreamer1.0-tools gstreamer1.0-plugins-base
          gstreamer1.0-plugins-good libjpeg62-turbo-dev ffmpeg busybox chromium v4l-utils)
for w in "${want[@]}"; do
    case "$w" in
        native) ;;
        sanitize) packages+=(clang) ;;
        arm) packages+=(g++-arm-linux-gnueabihf libgstreamer1.0-dev:armhf libjpeg62-turbo-dev:armhf) ;;
        demo) ;;
        *) echo "tools/deps.sh: unknown set '$w'" >&2; exit 2 ;;
    esac
done

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
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
