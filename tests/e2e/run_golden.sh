#!/usr/bin/env bash
# Runs one test game headless on the stepped clock and compares its screenshots with the golden
# pictures (tests/golden/NAME-MS.png). A game folder holding input.txt is played with it.
# usage: run_golden.sh VAXO2 COMPARE MAKE_IMAGES GAME_SRC GOLDEN_DIR WORK NAME EXIT_AFTER WxH|- MS...
set -u
# Under AddressSanitizer, whole-runtime processes skip the exit-time leak check: the GL driver
# and the dynamic loader keep allocations the checker cannot attribute. The runtime's own code
# is leak-checked by the unit tests, which run the shell in-process.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
vaxo2=$1 compare=$2 make_images=$3 src=$4 golden=$5 work=$6 name=$7 exit_after=$8 size=$9
shift 9
rm -rf "$work"
mkdir -p "$work/game" "$work/shots"
cp -r "$src/." "$work/game/"
"$make_images" "$work/game" || { echo "cannot make test images"; exit 1; }
size_args=()
[ "$size" != - ] && size_args=(--size "$size")
# A game that comes with input.txt is played with it (timed clicks and keys).
input_args=()
[ -f "$work/game/input.txt" ] && input_args=(--input "$work/game/input.txt")
shots=()
for ms in "$@"; do shots+=(--screenshot "$ms:$work/shots/$name-$ms.png"); done
 SDL_AUDIODRIVER=dummy "$vaxo2" --game "$work/game" --headless --stepped --exit-after "$exit_after" \
  "${size_args[@]}" "${input_args[@]}" "${shots[@]}" || { echo "vaxo2 exited with $?"; exit 1; }
status=0
for ms in "$@"; do
  shot="$work/shots/$name-$ms.png"
  want="$golden/$name-$ms.png"
  if [ ! -f "$shot" ]; then echo "no screenshot at $ms ms"; status=1; continue; fi
  if [ -n "${VAXO2_UPDATE_GOLDEN:-}" ]; then cp "$shot" "$want"; echo "updated $want"; continue; fi
  if [ ! -f "$want" ]; then echo "no golden picture $want (run with VAXO2_UPDATE_GOLDEN=1)"; status=1; continue; fi
  "$compare" "$shot" "$want" 3 || status=1
done
exit $status
