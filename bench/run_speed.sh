#!/usr/bin/env bash
# Speed and peak memory of the headless runner: `tarvo-run --ticks` over the
# CPU-bound program of bench/cpu_mix.s, loaded as ram0.bin of an otherwise
# empty machine directory. Prints the best of three runs.
#
# Usage: run_speed.sh BIN_DIR WORK_DIR [TICKS]
#   BIN_DIR holds tarvo-run and tarvo-asm; WORK_DIR becomes the machine
#   directory; TICKS run ticks of 10 ms (default 100000, 1000 emulated s).
set -euo pipefail
bin=$1
work=$2
ticks=${3:-100000}
here=$(cd "$(dirname "$0")" && pwd)

mkdir -p "$work"
"$bin/tarvo-asm" "$here/cpu_mix.s" -o "$work/ram0.bin" --base 0 --size 65536
args=(--dir "$work" --set PC=8000 --set UA=55 --set segmentLatch=55 --set IB=40
  --ticks "$ticks" --dump)

best=""
for run in 1 2 3; do
  start=$(date +%s%N)
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -v -o "$work/time.txt" "$bin/tarvo-run" "${args[@]}" \
      >"$work/dump.json" 2>"$work/stderr.txt"
    rss=$(awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}' "$work/time.txt")
    cpu=$(awk -F: '/User time|System time/ {t += $2} END {printf "%.3f", t}' "$work/time.txt")
  else
    "$bin/tarvo-run" "${args[@]}" >"$work/dump.json" 2>"$work/stderr.txt"
    rss="?"
    cpu=""
  fi
  end=$(date +%s%N)
  cycles=$(sed -n 's/.*"cycles":\([0-9-]*\).*/\1/p' "$work/dump.json")
  seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')
  line=$(awk -v c="$cycles" -v s="$seconds" -v u="$cpu" -v r="$rss" -v run="$run" 'BEGIN {
    printf "run %d: %d cycles in %.3f s wall (%.0fx real speed)", run, c, s, c / s / 910000
    if (u != "") printf ", %.3f s CPU (%.0fx real speed)", u, c / u / 910000
    printf ", peak RSS %s kB\n", r }')
  echo "tarvo-run --ticks $ticks $line"
  if [ -z "$best" ] || awk -v a="$seconds" -v b="$best" 'BEGIN { exit !(a < b) }'; then
    best=$seconds
    bestLine=$line
  fi
done
echo "tarvo-run --ticks $ticks best (least wall time): $bestLine"
