#!/usr/bin/env bash
# Runs one test game headless on the stepped clock with --audio-out, checks the capture, and runs
# it a second time to see that the same run gives the same samples.
# usage: run_audio.sh VAXO2 AUDIO_TOOL GAME_SRC WORK EXIT_AFTER [INPUT|-] CHECK...
set -u
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
vaxo2=$1 tool=$2 src=$3 work=$4 exit_after=$5 input=$6
shift 6
rm -rf "$work"
mkdir -p "$work/game"
cp -r "$src/." "$work/game/"
"$tool" make "$work/game" || exit 1
input_args=()
[ "$input" != - ] && input_args=(--input "$input")
for run in 1 2; do
  "$vaxo2" --game "$work/game" --headless --stepped --exit-after "$exit_after" \
    "${input_args[@]}" --audio-out "$work/run$run.wav" || { echo "vaxo2 exited with $?"; exit 1; }
done
"$tool" check "$work/run1.wav" "$@" || exit 1
cmp "$work/run1.wav" "$work/run2.wav" || { echo "two runs captured different sound"; exit 1; }
echo "both runs captured the same $(stat -c %s "$work/run1.wav") bytes"
