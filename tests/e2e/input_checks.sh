#!/usr/bin/env bash
# Whole-runtime checks of input that pictures do not show:
#  - closing the window during a KeyWait (real clock) ends the scenario at once: the shutdown
#    does not have to give up on a thread, and the run exits 0;
#  - an input script with an unknown event or key name is refused, naming its line, before
#    anything starts.
# usage: input_checks.sh VAXO2 MAKE_IMAGES GAME_SRC WORK
set -u
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
vaxo2=$1 make_images=$2 src=$3 work=$4
rm -rf "$work"
mkdir -p "$work/game"
cp -r "$src/." "$work/game/"
"$make_images" "$work/game" || { echo "cannot make test images"; exit 1; }
status=0

start=$(date +%s%N)
SDL_AUDIODRIVER=dummy "$vaxo2" --game "$work/game" --headless --exit-after 600 2>"$work/close.err"
code=$?
elapsed_ms=$(( ($(date +%s%N) - start) / 1000000 ))
echo "close during KeyWait: exit $code after ${elapsed_ms} ms"
cat "$work/close.err"
if [ $code -ne 0 ]; then echo "FAIL: exit code $code"; status=1; fi
if grep -q "did not stop in time" "$work/close.err"; then
  echo "FAIL: the scenario thread was still waiting when the window closed"; status=1
fi

check_refused() {  # NAME CONTENT EXPECTED...
  local name=$1 content=$2; shift 2
  printf '%b' "$content" > "$work/$name.txt"
  SDL_AUDIODRIVER=dummy "$vaxo2" --game "$work/game" --headless --stepped --exit-after 100 \
    --input "$work/$name.txt" 2>"$work/$name.err" >/dev/null
  local code=$?
  if [ $code -ne 2 ]; then echo "FAIL: $name: exit code $code, wanted 2"; status=1; fi
  for want in "$@"; do
    if ! grep -q -- "$want" "$work/$name.err"; then
      echo "FAIL: $name: no '$want' in: $(cat "$work/$name.err" | head -1)"; status=1
    fi
  done
}
check_refused unknown_key "100 click 1 2\n# comment\n200 key RETRUN\n" "line 3" "RETRUN"
check_refused unknown_event "100 click 1 2\n200 tap 5 5\n" "line 2" "tap"
check_refused big_code "100 key 70000\n" "line 1" "70000"
[ $status -eq 0 ] && echo "input checks passed"
exit $status
