#!/usr/bin/env bash
# Makes the demo's movie clip with the ffmpeg command line into a staging folder: three seconds of
# the evening's colours coming alive (a cellular pattern that fades in and out) with a soft
# chord, as MPEG-1 with MP2 sound in an .mpg file.
set -eu
out=$1
stamp="$out/.movies-stamp"
if [ -f "$stamp" ] && [ "$stamp" -nt "$0" ]; then exit 0; fi
command -v ffmpeg >/dev/null || { echo "make-movies: ffmpeg is missing (scripts/install-deps.sh)" >&2; exit 1; }
mkdir -p "$out/movie"
picture="life=s=160x90:mold=25:r=25:ratio=0.12:seed=7"
picture="$picture:death_color=#2b1d4f:life_color=#ffd27a:mold_color=#ff8c5a"
picture="$picture,scale=480:270:flags=neighbor,fade=in:0:12,fade=out:63:12"
# C, E and G dying away, the left and right channels weighted differently.
note() { echo "$1*sin(2*PI*$2*t)*exp(-1.2*t)"; }
left="$(note 0.18 523.25)+$(note 0.14 659.25)+$(note 0.12 783.99)"
right="$(note 0.14 523.25)+$(note 0.18 659.25)+$(note 0.12 783.99)"
ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i "$picture" \
  -f lavfi -i "aevalsrc=$left|$right:s=44100:d=3" -t 3 \
  -c:v mpeg1video -b:v 900k -maxrate 1200k -bufsize 400k -g 12 -bf 2 -c:a mp2 -b:a 128k \
  -f mpeg "$out/movie/evening.mpg"
touch "$stamp"
