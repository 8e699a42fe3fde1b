#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Serves the live view of the simulated board: runs vshare on the simulated
# camera, listening on ADDRESS:PORT (default 127.0.0.1) with the page from
# liveview/www and logins on, until SIGINT or SIGTERM. The first start makes
# the login: the user admin with a random password, which the script prints
# with the URL and writes as "user:password" to WORK_DIR/login for scripts.
# A stop ends every stream still running with the closing boundary and stops
# vcapture.
#
# Usage: demo/serve.sh PORT WORK_DIR VCAPTURE VSHARE BOARDSIM_LIB [ADDRESS [EMULATOR...]]
set -euo pipefail
[ $# -ge 5 ] || { sed -n '2,10p' "$0" >&2; exit 2; }
port=$1 work=$2 vcapture=$3 vshare=$4 preload=$5
address=${6:-127.0.0.1}
shift $(($# >= 6 ? 6 : 5))

here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"
work=$(readlink -f "$work") vcapture=$(readlink -f "$vcapture") vshare=$(readlink -f "$vshare")
preload=$(readlink -f "$preload")
run=$work/run sim=$work/sim log=$work/vshare.log
mkdir -p "$run" "$sim"

# vshare maps the capture buffers and starts vcapture: both run on the
# simulated camera, vcapture with the environment it inherits from vshare.
# vcapture's hand-off pipe goes beside the unix socket.
export BOARDSIM_DIR=$sim
options=(-listen "$address:$port" -www "$here/../liveview/www" -users "$work/users"
         -socket "$run/vshare.sock")
if [ $# -gt 0 ]; then
    # Under an emulator vshare runs vcapture through a script that runs it
    # under the same emulator, with the simulator preloaded into the guest
    # rather than into the emulator.
    printf '#!/bin/sh\nexec env -u LD_PRELOAD %s -E LD_PRELOAD=%s -0 vcapture %s "$@"\n' \
        "$*" "$preload" "$vcapture" > "$run/vcapture"
    chmod +x "$run/vcapture"
    sharer_command=("$@" -E "LD_PRELOAD=$preload" -0 vshare "$vshare" "${options[@]}"
                    -vcapture "$run/vcapture")
else
    sharer_command=(env "LD_PRELOAD=$preload" "$vshare" "${options[@]}" -vcapture "$vcapture")
fi

# vshare gets a session and so a process group of its own, which vcapture
# inherits: one signal to the group reaches both.
sharer=
stop() {  # SIGTERM to vshare, after 5 s SIGKILL to what is left of its group
    [ -n "$sharer" ] || return 0
    kill -TERM "$sharer" 2>/dev/null || true
    for _ in $(seq 50); do
        kill -0 -- "-$sharer" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL -- "-$sharer" 2>/dev/null || true
    wait "$sharer" 2>/dev/null || true
    sharer=
}
trap stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A socket left by a demo that was killed outright goes first (vshare would
# replace it too).
rm -f "$run/vshare.sock"
[ -e "$work/users" ] && first_start=false || first_start=true
setsid "${sharer_command[@]}" 2>>"$log" &
sharer=$!
# Ready once it listens on the port and, on its first start, has made the
# login.
until grep -q -- "listening on .*:$port\$" "$log" 2>/dev/null &&
        { ! $first_start || [ -s "$work/admin.password" ]; }; do
    kill -0 "$sharer" 2>/dev/null || { echo "vshare did not start: see $log" >&2; exit 1; }
    sleep 0.1
done

case $address in
    '' | 0.0.0.0) host=127.0.0.1 ;;
    *:*) host=${address#[}; host="[${host%]}]" ;;  # IPv6, in brackets in a URL
    *) host=$address ;;
esac
if [ -s "$work/admin.password" ]; then
    password=$(cat "$work/admin.password")
    printf 'admin:%s\n' "$password" > "$work/login"
    echo "Streaming: open http://$host:$port/ in a browser, in as many tabs as you like,"
    echo "and log in as admin with the password $password"
    echo "(or open http://admin:$password@$host:$port/). The login is also in $work/login."
else
    echo "Streaming: open http://$host:$port/ and log in with a login of $work/users."
fi
echo "Ctrl-C stops the server; vshare's and vcapture's reports go to $log."
# The stop on exit takes whatever is left of vshare's group.
wait "$sharer" || true
echo "demo/serve.sh: vshare ended by itself; see $log" >&2
exit 1
