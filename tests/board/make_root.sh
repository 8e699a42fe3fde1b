#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Prints the path of a tarball holding a pristine armhf Debian 12 root: the
# board's userland (minbase) with the programs the board tests drive that are
# not dependencies of our packages (GStreamer's tools and base plug-ins for
# gst-inspect-1.0 and gst-launch-1.0, man-db for man, busybox's httpd for the
# CGI scripts). Makes it with debootstrap from this machine's Debian mirror
# when missing; it is cached in /var/tmp under a name keyed by what goes into
# it.
#
# Also makes sure that ARM programs run here: qemu-user-static's binfmt_misc
# entry, whose interpreter the kernel keeps open, so it works in any root.
#
# Usage: tests/board/make_root.sh
set -euo pipefail

suite=bookworm
include=gstreamer1.0-tools,gstreamer1.0-plugins-base,man-db,busybox

# The Debian mirror this machine's apt uses.
mirror=$({ grep -h -m1 -E '^(URIs:|deb )' /etc/apt/sources.list.d/*.sources \
              /etc/apt/sources.list 2>/dev/null || true; } | head -n1 \
         | sed -E 's/^URIs:[[:space:]]*//; s/^deb[[:space:]]+(\[[^]]*\][[:space:]]+)?//; s/[[:space:]].*//')
[ -n "$mirror" ] || { echo "make_root.sh: no Debian mirror in /etc/apt" >&2; exit 2; }

binfmt=/proc/sys/fs/binfmt_misc
[ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
[ -e "$binfmt/qemu-arm" ] || update-binfmts --enable qemu-arm
grep -qx enabled "$binfmt/qemu-arm" || { echo "make_root.sh: qemu-arm binfmt entry is disabled" >&2; exit 2; }

key=$(printf '%s\n' armhf "$suite" minbase "$include" "$mirror" | sha256sum | cut -c1-16)
tar=/var/tmp/camboard-board-armhf-$key.tar
if [ ! -f "$tar" ]; then
    root=$(mktemp -d /var/tmp/camboard-board-root.XXXXXX)
    chmod 755 "$root"   # it becomes "/", which every user enters
    log=/var/tmp/camboard-board-debootstrap.log
    # debootstrap mounts proc and sys in the root while it works: whatever
    # is still mounted after a failure is released before the root goes.
    cleanup() {
        local m
        for m in $(awk -v r="$root/" 'index($2, r) == 1 { print $2 }' /proc/self/mounts | sort -r); do
            umount -l "$m"
        done
        rm -rf --one-file-system "$root"
    }
    trap cleanup EXIT
    echo "make_root.sh: making the board's armhf root (once; cached in $tar)" >&2
    debootstrap --arch=armhf --variant=minbase --include="$include" "$suite" "$root" "$mirror" \
        >"$log" 2>&1 || { tail -n 20 "$log" >&2; echo "make_root.sh: debootstrap failed: $log" >&2; exit 1; }
    # The same package sources as this machine (updates and security too), so
    # that the packages' dependencies resolve as they would on a board.
    if ls /etc/apt/sources.list.d/*.sources >/dev/null 2>&1; then
        cp /etc/apt/sources.list.d/*.sources "$root/etc/apt/sources.list.d/"
        rm -f "$root/etc/apt/sources.list"
    fi
    cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
    chroot "$root" apt-get -qq update >>"$log" 2>&1
    chroot "$root" apt-get clean
    tar -C "$root" -cf "$tar.part" . && mv "$tar.part" "$tar"
fi
echo "$tar"
