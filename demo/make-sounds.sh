#!/usr/bin/env bash
# Makes the demo's sounds into a staging folder: music with sox (an intro played once and a loop
# played after it for ever), click effects, and the characters' voiced lines with espeak-ng.
# Everything is encoded as Ogg Vorbis, as games ship their sounds.
set -eu
out=$1
stamp="$out/.sounds-stamp"
if [ -f "$stamp" ] && [ "$stamp" -nt "$0" ]; then exit 0; fi
for tool in sox espeak-ng; do
  command -v "$tool" >/dev/null || { echo "make-sounds: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out/bgm" "$out/se" "$out/SE" "$out/voice"
ogg() { sox "$1" -C 3 "$2"; }

# Notes of half a second, plucked, for the melodies.
note() {  # file pitch
  sox -n -r 44100 -c 2 "$1" synth 0.5 pluck "$2" fade 0 0.5 0.15 vol 0.7
}
melody() {  # out pitch...
  local dest=$1 i=0 parts=()
  shift
  for p in "$@"; do note "$work/n$i.wav" "$p"; parts+=("$work/n$i.wav"); i=$((i + 1)); done
  sox "${parts[@]}" "$dest"
}
# Intro: a rising phrase of two seconds.
melody "$work/intro-notes.wav" C4 E4 G4 C5
sox -n -r 44100 -c 2 "$work/intro-pad.wav" synth 2 sine 130.75 fade 0.5 2 0.5 vol 0.15
sox -m "$work/intro-notes.wav" "$work/intro-pad.wav" "$work/intro.wav"
# Loop: four seconds that join end to start (the pad's tones complete whole cycles).
melody "$work/loop-notes.wav" A3 C4 E4 C4 F3 A3 C4 A3
sox -n -r 44100 -c 2 "$work/loop-pad.wav" synth 4 sine 110 sine 164.75 vol 0.12
sox -m "$work/loop-notes.wav" "$work/loop-pad.wav" "$work/loop.wav"
ogg "$work/intro.wav" "$out/bgm/intro.ogg"
ogg "$work/loop.wav" "$out/bgm/loop.ogg"

# Clicks: a short bright tick, and the system screens' click under its fixed name.
sox -n -r 44100 -c 2 "$work/click.wav" synth 0.06 sine 2400 fade 0 0.06 0.05 vol 0.6
ogg "$work/click.wav" "$out/se/click.ogg"
ogg "$work/click.wav" "$out/SE/クリック音Ｂ.ogg"

# Voices: mono 22050 Hz, as espeak-ng speaks; the lines of the first and third message pages.
espeak-ng -v en+f3 -s 165 -w "$work/aoi.wav" "Welcome to the Vaxo two demo."
espeak-ng -v en+m3 -s 160 -w "$work/ren.wav" "English text wraps at the width of the box, too."
ogg "$work/aoi.wav" "$out/voice/aoi_01.ogg"
ogg "$work/ren.wav" "$out/voice/ren_01.ogg"
touch "$stamp"
