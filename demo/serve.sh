#!/usr/bin/env bash
# Serves the stream of the simulated board: lays out the web root in WORK_DIR,
# starts vshare on the simulated camera with its socket in WORK_DIR/run, and
# runs busybox httpd on 127.0.0.1:PORT until SIGINT or SIGTERM. Then it stops
# everything it started: vshare ends every stream still running with the
# closing boundary and stops vcapture, then the server and its children go.
#
# Usage: demo/serve.sh PORT WORK_DIR VCAPTURE VSHARE BOARDSIM_LIB [EMULATOR...]
set -euo pipefail
[ $# -ge 5 ] || { sed -n '2,8p' "$0" >&2; exit 2; }
port=$1 work=$2 vcapture=$3 vshare=$4 preload=$5
shift 5

# httpd reads its configuration, and runs the CGI scripts, after changing
# directory: every path is made absolute.
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"
work=$(readlink -f "$work") vcapture=$(readlink -f "$vcapture") vshare=$(readlink -f "$vshare")
preload=$(readlink -f "$preload")
run=$work/run sim=$work/sim log=$work/vshare.log
mkdir -p "$run" "$sim"
sh "$here/make_site.sh" "$work/www" "$vshare" "$run/vshare.sock" "$log" "$@"

# vshare maps the capture buffers and starts vcapture: both run on the
# simulated camera, vcapture with the environment it inherits from vshare.
export BOARDSIM_DIR=$sim
if [ $# -gt 0 ]; then
    # Under an emulator vshare runs vcapture through a script that runs it
    # under the same emulator, with the simulator preloaded into the guest
    # rather than into the emulator.
    printf '#!/bin/sh\nexec env -u LD_PRELOAD %s -E LD_PRELOAD=%s -0 vcapture %s "$@"\n' \
        "$*" "$preload" "$vcapture" > "$run/vcapture"
    chmod +x "$run/vcapture"
    sharer_command=("$@" -E "LD_PRELOAD=$preload" -0 vshare "$vshare"
                    -socket "$run/vshare.sock" -vcapture "$run/vcapture")
else
    sharer_command=(env "LD_PRELOAD=$preload" "$vshare"
                    -socket "$run/vshare.sock" -vcapture "$vcapture")
fi

# Each server gets a session and so a process group of its own, which its
# children inherit: vshare's vcapture; httpd's connection handlers and their
# CGI scripts (the relays). One signal to a group reaches them all.
sharer= server=
stop() {  # PID: SIGTERM to the process, after 5 s SIGKILL to what is left of its group
    kill -TERM "$1" 2>/dev/null || true
    for _ in $(seq 50); do
        kill -0 -- "-$1" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL -- "-$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}
stop_all() {
    # vshare first: it closes every stream's body with the closing boundary
    # and stops its vcapture, and the relays copy the end of the body to
    # their clients before the server goes.
    if [ -n "$sharer" ]; then
        stop "$sharer"
        sharer=
    fi
    [ -n "$server" ] || return 0
    for _ in $(seq 50); do
        pgrep -g "$server" -f -- ' -relay' >/dev/null || break
        sleep 0.1
    done
    # httpd's connection handlers do not end with httpd: the whole group
    # gets the signal.
    kill -TERM -- "-$server" 2>/dev/null || true
    stop "$server"
    server=
}
trap stop_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A socket left by a demo that was killed outright would pass the wait
# below before vshare listens: it goes first (vshare would replace it too).
rm -f "$run/vshare.sock"
setsid "${sharer_command[@]}" 2>>"$log" &
sharer=$!
# The relays answer 503 while vshare is not listening: httpd starts once the
# socket is there.
until [ -S "$run/vshare.sock" ]; do
    kill -0 "$sharer" 2>/dev/null || { echo "vshare did not start: see $log" >&2; exit 1; }
    sleep 0.1
done

echo "Streaming: open http://127.0.0.1:$port/ in a browser, in as many tabs as you like"
echo "(Ctrl-C stops the server). vshare's and vcapture's reports go to $log."
setsid busybox httpd -f -v -p "127.0.0.1:$port" -h "$work/www" \
    -c "$here/../liveview/httpd.conf" &
server=$!
wait -n "$server" "$sharer" || true
echo "demo/serve.sh: a server ended by itself; see $log" >&2
exit 1
