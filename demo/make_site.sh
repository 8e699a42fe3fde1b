#!/bin/sh
# Lays out the board's web root for the stream, the way a board serves it:
# busybox httpd runs a CGI script that sends the response head and lets
# vcapture write the multipart body straight to the client.
#
# Usage: demo/make_site.sh WWW_DIR VCAPTURE BOARDSIM_LIB BOARDSIM_DIR [EMULATOR...]
set -eu
www=$1 vcapture=$2 preload=$3 simdir=$4
shift 4
emulator="$*"

mkdir -p "$www/cgi-bin" "$simdir"
cp "$(dirname "$0")/index.html" "$www/index.html"

if [ -n "$emulator" ]; then
    run="$emulator -E LD_PRELOAD=$preload -0 vcapture $vcapture"
else
    run="env LD_PRELOAD=$preload $vcapture"
fi
cat > "$www/cgi-bin/stream" <<CGI
#!/bin/sh
# The server's part: the response head with the boundary vcapture will use.
printf 'Content-Type: multipart/x-mixed-replace; boundary=frame\r\n'
printf 'Cache-Control: no-cache\r\n\r\n'
# vcapture's part: the body, until the client goes away.
BOARDSIM_DIR=$simdir exec $run 640 480 -format jpeg -qscale 80 -fps 15 \\
    -mjpeg-http frame -out - -quiet 2>>$simdir/vcapture.log
CGI
chmod +x "$www/cgi-bin/stream"
