#!/usr/bin/env bash
# Runs one movie test game headless on the stepped clock with the test clips beside its script,
# takes the screenshots its checks name, and reads them with movie_probe; checks after the word
# "audio" go to audio_tool on the captured sound. The run is made twice: both must capture the
# same sound and the same pictures.
# usage: run_movie.sh VAXO2 PROBE AUDIO_TOOL MAKE_IMAGES CLIPS GAME_SRC WORK EXIT_AFTER CHECK...
#        [audio CHECK...]
set -u
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
vaxo2=$1 probe=$2 tool=$3 make_images=$4 clips=$5 src=$6 work=$7 exit_after=$8
shift 8
picture_checks=() audio_checks=() times=()
while [ $# -gt 0 ]; do
  if [ "$1" = audio ]; then shift; audio_checks=("$@"); break; fi
  case $1 in frame | colour | pixel) times+=("$2") ;; esac
  picture_checks+=("$1")
  shift
done
rm -rf "$work"
mkdir -p "$work/game"
cp -r "$src/." "$work/game/"
cp -r "$clips/." "$work/game/"
"$make_images" "$work/game" || { echo "cannot make test images"; exit 1; }
for run in 1 2; do
  mkdir -p "$work/run$run"
  shots=()
  for ms in $(printf '%s\n' "${times[@]}" | sort -un); do
    shots+=(--screenshot "$ms:$work/run$run/shot-$ms.png")
  done
  SDL_AUDIODRIVER=dummy "$vaxo2" --game "$work/game" --headless --stepped --exit-after "$exit_after" \
    "${shots[@]}" --audio-out "$work/run$run/sound.wav" 2>"$work/run$run/stderr.txt" ||
    { echo "vaxo2 exited with $?"; cat "$work/run$run/stderr.txt"; exit 1; }
done
status=0
"$probe" "$work/run1" "${picture_checks[@]}" || status=1
if [ ${#audio_checks[@]} -gt 0 ]; then
  "$tool" check "$work/run1/sound.wav" "${audio_checks[@]}" || status=1
fi
cmp -s "$work/run1/sound.wav" "$work/run2/sound.wav" || { echo "two runs captured different sound"; status=1; }
for f in "$work"/run1/shot-*.png; do
  cmp -s "$f" "$work/run2/$(basename "$f")" || { echo "two runs differ in $(basename "$f")"; status=1; }
done
exit $status
