#!/usr/bin/env bash
# Builds the demo game and runs it: in a window when there is a display, otherwise headless on
# the stepped clock with the auto-play input, writing screenshots and the sound (out/demo.wav)
# under out/.
set -eu
build=${1:-build}
cmake --build "$build" -j"$(nproc)" --target demo_game
game="$build/demo/game"
root=$(pwd)
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${VAXO2_DEMO_HEADLESS:-}" ]; then
  exec "$build/vaxo2" --game "$game"
fi
mkdir -p out
shots=()
for t in 1000 1800 4300 5900 7300 8100 10000 12500; do
  shots+=(--screenshot "$t:$root/out/demo-$t.png")
done
SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy} "$build/vaxo2" --game "$game" --headless --stepped \
  --input "$root/demo/input.txt" --exit-after 14000 "${shots[@]}" --audio-out "$root/out/demo.wav"
echo "headless demo finished; screenshots and the sound it played:"
ls -1 out/demo-*.png out/demo.wav
