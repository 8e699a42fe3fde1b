#!/usr/bin/env bash
# Serves the stream of the simulated board: lays out the web root in WORK_DIR
# and runs busybox httpd on 127.0.0.1:PORT until SIGINT or SIGTERM. Then it
# stops everything it started: the server, the server's children and the
# vcapture processes still streaming to connected clients.
#
# Usage: demo/serve.sh PORT WORK_DIR VCAPTURE BOARDSIM_LIB [EMULATOR...]
set -euo pipefail
[ $# -ge 4 ] || { sed -n '2,7p' "$0" >&2; exit 2; }
port=$1 work=$2 vcapture=$3 preload=$4
shift 4

sh "$(dirname "$0")/make_site.sh" "$work/www" "$vcapture" "$preload" "$work/sim" "$@"

# The server gets a session and so a process group of its own, which its
# connection handlers and their CGI scripts (vcapture) inherit: one signal to
# the group reaches them all, however many clients are connected.
server=
stop_server() {
    [ -n "$server" ] || return 0
    kill -TERM -- "-$server" 2>/dev/null || return 0
    # vcapture ends its stream on SIGTERM; whatever is still there after a
    # while is killed.
    for _ in $(seq 50); do
        kill -0 -- "-$server" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL -- "-$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
    server=
}
trap stop_server EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

echo "Streaming: open http://127.0.0.1:$port/ in a browser (Ctrl-C stops the server)."
echo "vcapture's reports go to $work/sim/vcapture.log."
setsid busybox httpd -f -v -p "127.0.0.1:$port" -h "$work/www" \
    -c "$(dirname "$0")/../liveview/httpd.conf" &
server=$!
wait "$server"
