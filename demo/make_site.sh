#!/bin/sh
# Lays out the board's web root for the stream from the live view's page and
# CGI scripts (liveview/), as the board's package installs them, with the
# installed vcapture replaced by this build's on the simulated board: busybox
# httpd runs a CGI script that sends the response head and lets vcapture
# write the multipart body straight to the client.
#
# Usage: demo/make_site.sh WWW_DIR VCAPTURE BOARDSIM_LIB BOARDSIM_DIR [EMULATOR...]
set -eu
www=$1 vcapture=$2 preload=$3 simdir=$4
shift 4
emulator="$*"
liveview=$(dirname "$0")/../liveview

mkdir -p "$www/cgi-bin" "$simdir"
cp "$liveview/www/index.html" "$www/index.html"

if [ -n "$emulator" ]; then
    run="env BOARDSIM_DIR=$simdir $emulator -E LD_PRELOAD=$preload -0 vcapture $vcapture"
else
    run="env BOARDSIM_DIR=$simdir LD_PRELOAD=$preload $vcapture"
fi
for script in stream snapshot; do
    # vcapture's reports go to a log rather than to the server's terminal.
    sed -e "s|@CAMBOARD_VCAPTURE@|$run|" -e "1a exec 2>>$simdir/vcapture.log" \
        "$liveview/www/cgi-bin/$script.in" > "$www/cgi-bin/$script"
    chmod +x "$www/cgi-bin/$script"
done
