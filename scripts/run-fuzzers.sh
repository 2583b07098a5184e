#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a few seconds from its seed corpus.
set -eu
build=${1:-build-fuzz}
seconds=${2:-20}
if ! command -v clang++ >/dev/null; then
  echo "clang++ missing: fuzzers skipped"; exit 0
fi
if ! ls fuzz/*.cpp >/dev/null 2>&1; then
  echo "no fuzz targets"; exit 0
fi
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVAXO2_FUZZ=ON -DVAXO2_BENCH=OFF >/dev/null
targets=$(for f in fuzz/*.cpp; do basename "$f" .cpp; done)
cmake --build "$build" -j"$(nproc)" --target $targets
for t in $targets; do
  corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  [ -d "fuzz/corpus/$t" ] && cp -n fuzz/corpus/"$t"/* "$corpus"/ 2>/dev/null || true
  echo "fuzzing $t for ${seconds}s"
  "$build/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -print_final_stats=0 -artifact_prefix="$build/$t-" "$corpus" >"$build/$t.log" 2>&1 || {
    tail -n 40 "$build/$t.log"; echo "fuzzer $t found a failure"; exit 1; }
done
echo "fuzzers ok"
