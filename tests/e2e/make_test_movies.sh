#!/usr/bin/env bash
# Makes the tests' movie clips with the ffmpeg command line, tiny so that the suite stays fast.
#   count.*    160x120, 25 pictures a second, 40 pictures: picture k is the flat grey 16 + 5k,
#              so a screenshot tells which picture is on screen (one clip per format:
#              MPEG-1 in .mpg, WMV 8 with WMA sound in .wmv, MPEG-4 and MJPEG in .avi)
#   odd.avi    333x211 flat orange, half a second: an odd size that must show no black border
#   tone.mpg   64x48, one second of a 1 kHz sine at half of full scale in MP2 sound
#   broken/    bad input: a truncated and a damaged clip, a zero-length one, one that is text
# usage: make_test_movies.sh OUT_DIR
set -eu
out=$1
command -v ffmpeg >/dev/null || { echo "make_test_movies: ffmpeg is missing (scripts/install-deps.sh)" >&2; exit 1; }
mkdir -p "$out/broken"
ff() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }
count="color=c=black:s=160x120:r=25:d=1.6,format=gray,geq=lum='16+5*N'"
tone="aevalsrc=0.5*sin(2*PI*1000*t):s=44100:d=1.6"

ff -f lavfi -i "$count" -c:v mpeg1video -q:v 2 -g 12 -bf 2 -f mpeg "$out/count.mpg"
ff -f lavfi -i "$count" -f lavfi -i "$tone" -c:v wmv2 -q:v 2 -c:a wmav2 -b:a 64k -ac 1 \
  -shortest -f asf "$out/count.wmv"
ff -f lavfi -i "$count" -c:v mpeg4 -q:v 2 -g 12 -f avi "$out/count_mpeg4.avi"
ff -f lavfi -i "$count" -c:v mjpeg -q:v 2 -f avi "$out/count_mjpeg.avi"
# (the colour source alone rounds sizes to even ones; from RGB the odd size stays)
ff -f lavfi -i "color=c=0xF08020:s=333x211:r=25:d=0.5,format=rgb24" -c:v mpeg4 -q:v 2 -f avi "$out/odd.avi"
# Both channels made as such: an upmix from mono would lower the level by 3 dB.
ff -f lavfi -i "color=c=0x204060:s=64x48:r=25:d=1" \
  -f lavfi -i "aevalsrc=0.5*sin(2*PI*1000*t)|0.5*sin(2*PI*1000*t):s=44100:d=1" \
  -c:v mpeg1video -q:v 4 -c:a mp2 -b:a 192k -shortest -f mpeg "$out/tone.mpg"

# Bad input, cut from the good clips.
size=$(stat -c %s "$out/count.mpg")
head -c $((size / 2)) "$out/count.mpg" >"$out/broken/truncated.mpg"
cp "$out/count.mpg" "$out/broken/damaged.mpg"
# A stretch of noise over the middle of the stream (deterministic: a fixed pattern).
python3 - "$out/broken/damaged.mpg" <<'EOF'
import sys
path = sys.argv[1]
data = bytearray(open(path, 'rb').read())
seed = 12345
for i in range(len(data) // 3, len(data) // 3 + 4000):
    seed = (seed * 1103515245 + 12345) & 0x7fffffff
    data[i] = seed >> 16 & 0xff
open(path, 'wb').write(bytes(data))
EOF
: >"$out/broken/empty.wmv"
printf 'This is a text file with a movie name.\n' >"$out/broken/text.avi"
touch "$out/.stamp"
