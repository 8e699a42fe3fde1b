#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes liveview/placeholder.jpg, the picture vshare streams while the camera
# is unavailable: "Camera unavailable" on dark grey, 640 x 480, baseline JPEG.
# Run once by hand when the picture should change; the build embeds the
# committed file, so neither ffmpeg nor the font is needed to build.
# Usage: tools/make_placeholder.sh
set -euo pipefail
cd "$(dirname "$0")/.."

font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf  # Debian: fonts-dejavu-core
text="drawtext=fontfile=$font:text='Camera unavailable':fontcolor=0xF0F0F0:fontsize=44"
text+=":x=(w-text_w)/2:y=(h-text_h)/2"
# bitexact: no encoder version in the file, so a rerun gives the same bytes.
ffmpeg -hide_banner -loglevel error -y -f lavfi -i "color=c=0x303030:s=640x480:d=1" \
    -vf "$text" -frames:v 1 -pix_fmt yuvj420p -q:v 4 -fflags +bitexact -flags +bitexact \
    -f mjpeg liveview/placeholder.jpg
