#!/usr/bin/env bash
# Runs a game made of damaged and hostile data headless on the stepped clock: the run must end
# at its --exit-after time although the script ends in a loop that never waits, and every fault
# must be said exactly once on stderr, naming its file.
# usage: hostile_game.sh VAXO2 GAME_SRC WORK
set -u
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
vaxo2=$1 src=$2 work=$3
rm -rf "$work"
mkdir -p "$work/game"
cp -r "$src/." "$work/game/"
start=$SECONDS
SDL_AUDIODRIVER=dummy "$vaxo2" --game "$work/game" --headless --stepped --exit-after 3000 \
  2> "$work/stderr.txt" || { echo "vaxo2 exited with $?"; cat "$work/stderr.txt"; exit 1; }
elapsed=$((SECONDS - start))
status=0
once() {
  local n
  n=$(grep -c -F -- "$1" "$work/stderr.txt")
  [ "$n" -eq 1 ] || { echo "said $n times, not once: $1"; status=1; }
}
once 'vaxo2: picture "broken.gif": GIF block structure damaged'
once 'vaxo2: picture "missing.png": not found in the packs or the game folder'
once 'vaxo2: picture "huge.png": picture size 100000x100000 refused'
once 'vaxo2: script "recurse.vxs" not started: scripts are already nested 256 deep'
once 'commands were queued without a release'
once 'vaxo2: stepped clock: a thread stayed busy'
# One stall of the busy limit (5 s), then steps as fast as the machine goes: far below the
# 188 stalls (about 16 minutes) a busy scenario used to cost.
[ "$elapsed" -lt 90 ] || { echo "the run took ${elapsed}s"; status=1; }
[ $status -eq 0 ] || cat "$work/stderr.txt"
exit $status
