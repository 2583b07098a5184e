#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a few seconds from its seed corpus.
# usage: run-fuzzers.sh [BUILD [SECONDS [TARGET...]]]; FUZZ_FORK=N runs N worker processes.
set -eu
build=${1:-build-fuzz}
seconds=${2:-20}
shift $(( $# < 2 ? $# : 2 ))
fork=${FUZZ_FORK:-0}

# Limits per target. A picture decode may hold the largest accepted picture (128 MB of BGRA)
# and the library's own copy: a single allocation above 192 MB, or a process above 1 GB, means
# a size was not bounded before decoding, and is a finding.
limits() {
  case $1 in
    platform_image_decoder) echo "-rss_limit_mb=1024 -malloc_limit_mb=192 -timeout=10" ;;
    *) echo "-rss_limit_mb=4096 -timeout=10" ;;
  esac
}
if ! command -v clang++ >/dev/null; then
  echo "clang++ missing: fuzzers skipped"; exit 0
fi
if ! ls fuzz/*.cpp >/dev/null 2>&1; then
  echo "no fuzz targets"; exit 0
fi
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVAXO2_FUZZ=ON -DVAXO2_BENCH=OFF >/dev/null
targets=${*:-$(for f in fuzz/*.cpp; do basename "$f" .cpp; done)}
cmake --build "$build" -j"$(nproc)" --target $targets
for t in $targets; do
  corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  [ -d "fuzz/corpus/$t" ] && cp -n fuzz/corpus/"$t"/* "$corpus"/ 2>/dev/null || true
  echo "fuzzing $t for ${seconds}s"
  fork_args=()
  [ "$fork" -gt 0 ] && fork_args=(-fork="$fork")
  # shellcheck disable=SC2046
  "$build/fuzz/$t" -max_total_time="$seconds" $(limits "$t") "${fork_args[@]}" -print_final_stats=0 -artifact_prefix="$build/$t-" "$corpus" >"$build/$t.log" 2>&1 || {
    tail -n 40 "$build/$t.log"; echo "fuzzer $t found a failure"; exit 1; }
done
echo "fuzzers ok"
