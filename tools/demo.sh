#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Sets up what is missing, builds what the demo runs, and runs the main job
# on the simulated board: vcapture captures MJPEG from the simulated camera
# and vshare serves it to every viewer over HTTP itself, with a login it
# prints (and writes to build/demo/login), on a page at http://ADDRESS:PORT/
# (stop with Ctrl-C).
#
# Usage: [PORT=8080] [ADDRESS=127.0.0.1] tools/demo.sh
#   PORT     the port the page is served on (default 8080)
#   ADDRESS  the address it is served on (default 127.0.0.1, this machine only)
# Only vcapture, vshare, sensreg, sensdump and the board simulator are built
# (in build/native), not the tests; the demo's files go to build/demo.
set -euo pipefail
cd "$(dirname "$0")/.."

case "${1:-}" in
    -h | --help) sed -n '/^set /q; 2,$ s/^# \{0,1\}//p' "$0"; exit 0 ;;
    '') ;;
    *) echo "tools/demo.sh: no arguments are taken (see tools/demo.sh --help)" >&2; exit 2 ;;
esac

port=${PORT:-8080}
address=${ADDRESS:-127.0.0.1}
if ! [[ $port =~ ^[0-9]+$ ]] || ((10#$port < 1 || 10#$port > 65535)); then
    echo "tools/demo.sh: PORT must be a number from 1 to 65535, not '$port'" >&2
    exit 2
fi
port=$((10#$port))

# A port that another server holds would leave vshare unable to start after
# the URL has been printed: say so at once, before any building.
check_port() {
    local why
    why=$(python3 - "$address" "$port" <<'PY' 2>&1
import socket, sys
address, port = sys.argv[1], int(sys.argv[2])
try:
    family = socket.getaddrinfo(address, port, type=socket.SOCK_STREAM)[0][0]
    with socket.socket(family, socket.SOCK_STREAM) as s:
        # As vshare binds: a port left in TIME_WAIT is free.
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind((address, port))
except OSError as e:
    sys.exit(e.strerror or str(e))
PY
    ) && return 0
    echo "tools/demo.sh: cannot serve on $address:$port: $why" >&2
    echo "Stop what uses it, or choose another port: PORT=$((port == 65535 ? 8081 : port + 1)) tools/demo.sh" >&2
    exit 1
}

# Before anything is installed or built, where python3 is there to check.
if command -v python3 >/dev/null; then check_port; fi
echo "== Checking the packages the demo needs (apt-get installs what is missing)"
tools/deps.sh native demo
check_port

echo "== Building vcapture, vshare, sensreg, sensdump and the board simulator in build/native"
tools/build.sh native vcapture vshare sensreg sensdump boardsim

build=$PWD/build/native
demo=$PWD/build/demo
rm -rf "$demo"
mkdir -p "$demo/sim"

echo
echo "== The simulated board: sensor registers through sensreg and sensdump"
export BOARDSIM_DIR=$demo/sim
LD_PRELOAD=$build/lib/libboardsim.so "$build/bin/sensreg" reg 0 0
LD_PRELOAD=$build/lib/libboardsim.so "$build/bin/sensdump" 0 | sed -n 1,4p
unset BOARDSIM_DIR
echo
check_port  # once more: the build took a while
serve=(demo/serve.sh "$port" "$demo" "$build/bin/vcapture" "$build/bin/vshare"
       "$build/lib/libboardsim.so" "$address")
# The server script stops everything it started on Ctrl-C (or SIGTERM).
exec "${serve[@]}"
