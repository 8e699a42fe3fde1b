#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs clang-tidy (the checks of .clang-tidy) over the product code and fails
# on any finding. Tests, the simulator and the fuzz targets are not product
# code and are left out.
# Usage: tools/tidy.sh [BUILD_DIR]   (default: build/native, configured if it
# has no compile_commands.json yet)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

build=${1:-build/native}
folders='capture|sensor|sensortools|isptune|gst|fdiv|liveview'

if ! command -v clang-tidy-14 >/dev/null; then
    echo "Installing: clang-tidy"
    export DEBIAN_FRONTEND=noninteractive
    apt-get -o DPkg::Lock::Timeout=600 update -qq
    apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends clang-tidy >/dev/null
fi
if [ ! -f "$build/compile_commands.json" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi

log=$(mktemp)
work=$(mktemp -d)
trap 'rm -rf "$log" "$work"' EXIT

# clang-tidy itself exits 0 on warnings; every finding is to fail the run.
cat > "$work/clang-tidy" <<WRAPPER
#!/bin/sh
exec clang-tidy-14 --warnings-as-errors='*' "\$@"
WRAPPER
chmod +x "$work/clang-tidy"

status=0
if command -v run-clang-tidy-14 >/dev/null; then
    run-clang-tidy-14 -clang-tidy-binary "$work/clang-tidy" -p "$build" -j 2 -quiet \
        "^$root/($folders)/" >"$log" 2>&1 || status=$?
else
    # Each source once, although some are compiled into two targets.
    python3 -c '
import json, re, sys
pattern = re.compile(sys.argv[2])
files = sorted({e["file"] for e in json.load(open(sys.argv[1])) if pattern.match(e["file"])})
print("\n".join(files))' "$build/compile_commands.json" "^$root/($folders)/" |
        xargs -r -P 2 -n 1 "$work/clang-tidy" -p "$build" --quiet >"$log" 2>&1 || status=$?
fi

# The findings, each once (a header is seen from every file that includes it).
findings=$(sed 's/\x1b\[[0-9;]*m//g' "$log" | grep -E '^/.*: (warning|error): ' | sort -u || true)
if [ -n "$findings" ]; then
    printf '%s\n' "$findings" | sed "s|^$root/||"
    echo
    echo "tools/tidy.sh: findings per check:"
    printf '%s\n' "$findings" | sed -E 's/.*\[([^],]+)(,-warnings-as-errors)?\]$/\1/' | sort | uniq -c | sort -rn
    exit 1
fi
if [ "$status" -ne 0 ]; then
    cat "$log"
    echo "tools/tidy.sh: clang-tidy failed" >&2
    exit "$status"
fi
echo "tools/tidy.sh: no findings in ${folders//|/, }"
