#!/usr/bin/env bash
# Writes the tiny movies the reel and movie-file tests open: 16x16 pixels,
# one frame a second, so that each file stays a few kilobytes while its
# length is exact. Needs the ffmpeg command-line tool (Debian package
# "ffmpeg"); the test run itself only reads the files kept beside this script.
#
# Run from anywhere: tests/data/movies/make-movies.sh
set -euo pipefail
cd "$(dirname "$0")"

make_movie() {
  local seconds=$1 out=$2
  ffmpeg -v error -y -f lavfi -i "color=c=gray:s=16x16:r=1" -t "$seconds" \
    -c:v libx264 -preset veryslow -crf 51 -pix_fmt yuv420p \
    -map_metadata -1 -fflags +bitexact -flags:v +bitexact "$out"
}

make_movie 2 two-seconds.mov
make_movie 60 sixty-seconds.mov
