#!/usr/bin/env bash
# A copy started while another runs from the same folder warns and exits 0 at once without
# touching the save folder; a copy from a different folder runs normally.
# usage: single_instance.sh VAXO2 GAME_SRC WORK
set -u
# Under AddressSanitizer, whole-runtime processes skip the exit-time leak check: the GL driver
# and the dynamic loader keep allocations the checker cannot attribute. The runtime's own code
# is leak-checked by the unit tests, which run the shell in-process.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
vaxo2=$1 src=$2 work=$3
rm -rf "$work"
mkdir -p "$work/a" "$work/b"
cp -r "$src/." "$work/a/"
cp -r "$src/." "$work/b/"
export SDL_AUDIODRIVER=dummy
"$vaxo2" --game "$work/a" --headless --exit-after 6000 &
first=$!
# Give the first copy time to take its lock.
for _ in $(seq 50); do
  sleep 0.1
  ls "${XDG_RUNTIME_DIR:-${TMPDIR:-/tmp}/vaxo2-$(id -u)}" 2>/dev/null |
    grep -q "Vaxo2SystemRunning-.*_a.lock" && break
done
out=$("$vaxo2" --game "$work/a" --headless --exit-after 3000 2>&1)
code=$?
status=0
if [ $code -ne 0 ]; then echo "second copy exited with $code, want 0"; status=1; fi
case "$out" in
  *"同一アプリケーションが既に起動されています"*) ;;
  *) echo "second copy did not warn: $out"; status=1 ;;
esac
if ! kill -0 $first 2>/dev/null; then echo "first copy is not running"; status=1; fi
# Another folder runs (it ends by itself after its exit time).
start=$(date +%s%N)
"$vaxo2" --game "$work/b" --headless --exit-after 1500 >/dev/null 2>&1
code=$?
elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
if [ $code -ne 0 ]; then echo "copy in another folder exited with $code"; status=1; fi
if [ $elapsed -lt 1000 ]; then echo "copy in another folder ended after ${elapsed} ms, it did not run"; status=1; fi
kill $first 2>/dev/null
wait $first 2>/dev/null
[ $status -eq 0 ] && echo "single instance ok"
exit $status
