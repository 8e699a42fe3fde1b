#!/usr/bin/env bash
# Sets up what is missing, builds, and runs the main job on the simulated
# board: vcapture captures MJPEG from the simulated camera and vshare serves
# it to every viewer through busybox httpd, on a page at
# http://127.0.0.1:8080/ (stop with Ctrl-C).
set -euo pipefail
cd "$(dirname "$0")/.."

tools/deps.sh native demo
tools/build.sh native

build=$PWD/build/native
demo=$PWD/build/demo
rm -rf "$demo"
mkdir -p "$demo/sim"

echo
echo "The simulated board: sensor registers through sensreg and sensdump"
export BOARDSIM_DIR=$demo/sim
LD_PRELOAD=$build/lib/libboardsim.so "$build/bin/sensreg" reg 0 0
LD_PRELOAD=$build/lib/libboardsim.so "$build/bin/sensdump" 0 | sed -n 1,4p
unset BOARDSIM_DIR
echo
# The server script stops everything it started on Ctrl-C (or SIGTERM).
exec demo/serve.sh 8080 "$demo" "$build/bin/vcapture" "$build/bin/vshare" \
    "$build/lib/libboardsim.so"
