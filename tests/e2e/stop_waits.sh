#!/usr/bin/env bash
# On the real clock (the stepped one cannot show it): every kind of script wait ends within a
# frame of a closing window, so the runtime shuts down in order instead of outliving its
# threads' 1000 ms stop; and SIGHUP and SIGQUIT get the same orderly shutdown as SIGTERM and
# SIGINT.
# usage: stop_waits.sh VAXO2 WORK
set -u
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
export SDL_AUDIODRIVER=dummy
vaxo2=$1 work=$2
rm -rf "$work"
mkdir -p "$work"
status=0
fail() { echo "FAIL: $*"; status=1; }

game() {  # game NAME SCRIPT
  mkdir -p "$work/$1"
  printf '%s\n' "$2" >"$work/$1/Start.vxs"
}
game transition 'Graphic(Layer=1, File="none.png") Transition(Time=20000)'
game wait 'Wait(Time=20000)'
game skipwait 'Wait(Time=20000, SkipOn=1)'
game keywait 'KeyWait'
game graphicwait 'Graphic(Layer=1, File="none.png") GraphicSlot(Layer=1, No=1, Time=20000, Loop=1) GraphicWait(Layer=1)'

# Closing the window 700 ms after the start, during the wait.
for g in transition wait skipwait keywait graphicwait; do
  start=$(date +%s%N)
  timeout 30 "$vaxo2" --game "$work/$g" --headless --exit-after 700 >"$work/$g.out" 2>&1
  code=$?
  elapsed=$((($(date +%s%N) - start) / 1000000))
  [ $code -eq 0 ] || fail "$g: exit code $code"
  grep -q "did not stop in time" "$work/$g.out" && fail "$g: $(cat "$work/$g.out")"
  [ $elapsed -lt 15000 ] || fail "$g: took ${elapsed} ms"
done

# Signals during a long wait: the same orderly end (exit code 0), never a kill. Job control
# on, or the shell starts background jobs with SIGINT and SIGQUIT ignored.
set -m
for sig in HUP QUIT TERM INT; do
  "$vaxo2" --game "$work/wait" --headless >"$work/sig$sig.out" 2>&1 &
  pid=$!
  sleep 1.5
  kill -s $sig $pid
  for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
  if kill -0 $pid 2>/dev/null; then
    fail "SIG$sig: still running"; kill -9 $pid
  fi
  wait $pid
  code=$?
  [ $code -eq 0 ] || fail "SIG$sig: exit code $code"
  grep -q "did not stop in time" "$work/sig$sig.out" && fail "SIG$sig: $(cat "$work/sig$sig.out")"
done

[ $status -eq 0 ] && echo "waits and signals end in order"
exit $status
