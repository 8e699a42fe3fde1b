#!/bin/sh
# Lays out the board's web root for the stream from the live view's page and
# CGI scripts (liveview/), as the board's package installs them, with the
# installed vshare replaced by this build's and its socket in the demo's own
# directory: busybox httpd runs a CGI script whose relay asks vshare for the
# stream or a snapshot and copies the answer to the client.
#
# Usage: demo/make_site.sh WWW_DIR VSHARE SOCKET LOG [EMULATOR...]
set -eu
www=$1 vshare=$2 socket=$3 log=$4
shift 4
emulator="$*"
liveview=$(dirname "$0")/../liveview

mkdir -p "$www/cgi-bin"
cp "$liveview/www/index.html" "$www/index.html"

if [ -n "$emulator" ]; then
    run="$emulator -0 vshare $vshare"
else
    run=$vshare
fi
for script in stream snapshot; do
    # The relay's reports go to the log rather than to the server's terminal.
    sed -e "s|@CAMBOARD_VSHARE@|$run|" -e "/^exec /s|\$| -socket $socket|" \
        -e "1a exec 2>>$log" "$liveview/www/cgi-bin/$script.in" > "$www/cgi-bin/$script"
    chmod +x "$www/cgi-bin/$script"
done
