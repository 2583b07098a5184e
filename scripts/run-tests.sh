#!/usr/bin/env bash
# Runs every test of a build tree. Whole-runtime tests need no display: they run headless.
set -eu
build=${1:-build}
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$(cd "$(dirname "$0")" && pwd)/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-suppressions=$(cd "$(dirname "$0")" && pwd)/tsan.supp}
# In a sanitizer build, keep Mesa's GL driver loaded until exit: the EGL loader unloads it at
# shutdown, after which the leak checker cannot name the driver's own exit-time allocations (and
# so cannot suppress them). Preloaded libraries are never unloaded.
if grep -q '^VAXO2_SANITIZE:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null; then
  keep=""
  for lib in /usr/lib/x86_64-linux-gnu/dri/swrast_dri.so /usr/lib/x86_64-linux-gnu/libEGL_mesa.so.0; do
    [ -f "$lib" ] && keep="${keep:+$keep:}$lib"
  done
  if [ -n "$keep" ]; then
    export LD_PRELOAD="${LD_PRELOAD:+$LD_PRELOAD:}$keep"
    export ASAN_OPTIONS="$ASAN_OPTIONS:verify_asan_link_order=0"
  fi
fi
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 600
