#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks packages: shows each binary package's control fields and files,
# refuses a package that lacks its library dependencies (a silent
# dpkg-shlibdeps failure leaves them out) or that carries the simulator, and
# runs lintian with its pedantic checks on them all (binary and source
# packages), which must report nothing that is not overridden with its reason
# in debian/*lintian-overrides.
#
# Usage: packaging/check.sh PACKAGE...   (.deb and .dsc files)
set -euo pipefail
status=0
for deb in "$@"; do
    [ "${deb##*.}" = deb ] || continue
    echo "== $(basename "$deb")"
    dpkg-deb -f "$deb" Package Version Architecture Depends | sed 's/^/   /'
    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print "   " $6 ($7 ? " " $7 " " $8 : "") }'
    if [ "$(dpkg-deb -f "$deb" Architecture)" != all ] && [ "$(dpkg-deb -f "$deb" Section)" != debug ] &&
        ! dpkg-deb -f "$deb" Depends | grep -q 'libc6'; then
        echo "packaging/check.sh: $deb has no library dependencies" >&2
        status=1
    fi
    if dpkg-deb -c "$deb" | grep -E 'boardsim|pixim_emulator|handoff_peer|dq_baseline'; then
        echo "packaging/check.sh: $deb carries the simulator" >&2
        status=1
    fi
done
echo "== lintian --pedantic"
# lintian would rather not run as root, and says so: that line is dropped.
lint=0
report=$(lintian --pedantic --display-info --fail-on error,warning,info,pedantic \
    --tag-display-limit 0 "$@" 2>&1) || lint=$?
grep -v '^running with root privileges' <<<"$report" || true
if [ $lint -ne 0 ]; then
    echo "packaging/check.sh: lintian reports tags that are neither fixed nor overridden" >&2
    status=1
fi
exit $status
