#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Rates the hardening of systemd service units with "systemd-analyze security
# --offline=true": prints each unit's overall exposure line and fails when
# any is above 2.0 (systemd's "OK" and better). Socket units are not rated
# by systemd-analyze and are only named as skipped.
# Usage: tools/unit_exposure.sh UNITFILE...   (for example the installed
# lib/systemd/system/camboard-vshare.service)
set -euo pipefail

limit=2.0
case "${1:-}" in
    -h | --help) sed -n '/^set /q; 3,$ s/^# \{0,1\}//p' "$0"; exit 0 ;;
    '') echo "tools/unit_exposure.sh: no unit file given (see tools/unit_exposure.sh --help)" >&2
        exit 2 ;;
esac
if ! command -v systemd-analyze >/dev/null; then
    echo "tools/unit_exposure.sh: systemd-analyze is missing (Debian package systemd)" >&2
    exit 2
fi

status=0
for unit in "$@"; do
    case $unit in
        *.service) ;;
        *) echo "$unit: skipped: systemd-analyze security rates service units only"
           continue ;;
    esac
    if [ ! -f "$unit" ]; then
        echo "tools/unit_exposure.sh: no such unit file: $unit" >&2
        exit 2
    fi
    line=$(systemd-analyze security --offline=true --no-pager "$unit" 2>&1 |
        sed -n 's/^.*\(Overall exposure level.*\)$/\1/p')
    if [ -z "$line" ]; then
        echo "tools/unit_exposure.sh: systemd-analyze did not rate $unit" >&2
        exit 2
    fi
    echo "$line"
    exposure=$(echo "$line" | sed -n 's/^.*: \([0-9][0-9.]*\) .*$/\1/p')
    if awk -v e="$exposure" -v l="$limit" 'BEGIN { exit !(e > l) }'; then
        echo "$unit: exposure $exposure is above $limit" >&2
        status=1
    fi
done
exit $status
