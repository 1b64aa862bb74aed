#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) and runs each for a bounded time, starting
# from its committed seed corpus in fuzz/corpus/<target>/. New inputs go to
# the build directory's own corpus, which later runs start from as well, so
# the committed seeds are never changed.
#
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
#   SECONDS_PER_TARGET  default 30
#   TARGET              fuzz_cpu, fuzz_lcd, ... (default: every target built)
# Environment:
#   TARVO_FUZZ_BUILD    build directory (default: build-fuzz)
#
# A crash, a leak, a sanitizer report, a failed invariant or a timeout
# fails the run; the input is kept under BUILD/artifacts/ and its path
# printed. Each run is also appended to BUILD/fuzz-stats.tsv (target,
# seconds, executions, result).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${TARVO_PACKAGES[@]}" clang libclang-rt-14-dev

seconds=${1:-30}
shift || true
build=${TARVO_FUZZ_BUILD:-build-fuzz}

cmake -S fuzz -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  >/dev/null
cmake --build "$build" -j2

build=$(cd "$build" && pwd)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in "$build"/fuzz_*; do
    [ -x "$f" ] && [ -f "$f" ] && targets+=("$(basename "$f")")
  done
fi

# Largest input per target: the processor takes a header and a few KB of
# code, the image loader files longer than the on-chip ROM.
max_len() {
  case $1 in
    fuzz_cpu) echo 8192 ;;
    fuzz_images) echo 8192 ;;
    fuzz_face) echo 65536 ;;
    fuzz_xasm) echo 16384 ;;
    fuzz_state) echo 131072 ;;
    *) echo 4096 ;;
  esac
}

mkdir -p "$build/artifacts"
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
failed=0
printf '%-14s %8s %12s  %s\n' target seconds executions result
for t in "${targets[@]}"; do
  seeds=fuzz/corpus/$t
  work=$build/corpus/$t
  mkdir -p "$work"
  log=$build/$t.log
  corpora=("$work")
  [ -d "$seeds" ] && corpora+=("$seeds")
  result=ok
  if ! "$build/$t" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
    -max_len="$(max_len "$t")" -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$t-" "${corpora[@]}" >"$log" 2>&1; then
    result=FAILED
    failed=1
  fi
  execs=$(awk '/stat::number_of_executed_units/ {print $2}' "$log" | tail -n 1)
  printf '%-14s %8s %12s  %s\n' "$t" "$seconds" "${execs:-?}" "$result"
  printf '%s\t%s\t%s\t%s\n' "$t" "$seconds" "${execs:-0}" "$result" >>"$build/fuzz-stats.tsv"
  if [ "$result" != ok ]; then
    grep -E 'ERROR|invariant|SUMMARY|Test unit written' "$log" | head -n 20 || true
    echo "(full log: $log)"
  fi
done
exit $failed
