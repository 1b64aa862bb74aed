#!/usr/bin/env bash
# Host instructions per emulated instruction (step) and per emulated cycle,
# by callgrind, for three workloads: the CPU-bound program of cpu_mix.s, the
# demo machine's BASIC running a FOR loop, and the demo machine idling at
# its prompt. Each workload runs twice, for a short and a long number of
# run ticks, and the figure is the difference of the two runs' instruction
# counts over the difference of their steps, so that start-up, loading and
# the final dump cancel out.
#
# Usage: host_per_step.sh BIN_DIR MACHINE_TEMPLATE WORK_DIR [WORKLOAD...]
#   BIN_DIR holds tarvo-run and tarvo-asm; MACHINE_TEMPLATE is the demo
#   machine directory; WORKLOAD is mix, basic or idle (default: all three).
set -euo pipefail
bin=$(cd "$1" && pwd)
template=$(cd "$2" && pwd)
work=$3
shift 3
workloads=("$@")
[ ${#workloads[@]} -eq 0 ] && workloads=(mix basic idle)
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"

# run NAME TICKS: instruction count and steps of one run, on a fresh copy
# of the workload's machine directory.
run() {
  local name=$1 ticks=$2 dir=$work/$1-$2
  rm -rf "$dir"
  local args=()
  case $name in
    mix)
      mkdir -p "$dir"
      "$bin/tarvo-asm" "$here/cpu_mix.s" -o "$dir/ram0.bin" --base 0 --size 65536
      args=(--set PC=8000 --set UA=55 --set segmentLatch=55 --set IB=40)
      ;;
    basic)
      cp -r "$template" "$dir"
      args=(--type '10 FOR I=1 TO 1000:A=A+I:NEXT I{ENTER}RUN{ENTER}')
      ;;
    idle)
      cp -r "$template" "$dir"
      ;;
  esac
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$bin/tarvo-run" --dir "$dir" \
    "${args[@]}" --ticks "$ticks" --dump >"$dir.json" 2>"$dir.err"
  local ir steps cycles
  ir=$(sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$dir.err")
  steps=$(sed -n 's/.*"steps":\([0-9]*\).*/\1/p' "$dir.json")
  cycles=$(sed -n 's/.*"cycles":\([0-9]*\).*/\1/p' "$dir.json")
  echo "$ir $steps $cycles"
}

for name in "${workloads[@]}"; do
  # Ticks chosen so that both runs of the BASIC workload are inside its
  # loop (typing ends before tick 300, the loop before tick 850).
  case $name in
    mix) short=100 long=400 ;;
    basic) short=350 long=650 ;;
    idle) short=200 long=500 ;;
  esac
  read -r ir1 steps1 cycles1 < <(run "$name" "$short")
  read -r ir2 steps2 cycles2 < <(run "$name" "$long")
  awk -v n="$name" -v a="$ir1" -v b="$ir2" -v s1="$steps1" -v s2="$steps2" \
    -v c1="$cycles1" -v c2="$cycles2" -v t1="$short" -v t2="$long" 'BEGIN {
    printf "%s: ticks %d-%d, %d host instructions, %d steps, %d cycles: %.1f per step, %.2f per cycle\n",
      n, t1, t2, b - a, s2 - s1, c2 - c1, (b - a) / (s2 - s1), (b - a) / (c2 - c1) }'
done
