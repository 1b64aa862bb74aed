#!/usr/bin/env bash
# What the window costs the host, on a copy of the demo machine: time from
# process start to the first painted frame, CPU time over SECONDS at real
# speed, over 5 s with Tab held (fast-forward) and over SECONDS with the
# machine switched off (the power switch is clicked on the face), and the
# peak resident memory. Screenshots of the running and the switched-off
# machine are left in WORK_DIR.
#
# Usage: window_cost.sh TARVO_BINARY MACHINE_TEMPLATE_DIR WORK_DIR [SECONDS]
# Without a DISPLAY it starts its own Xvfb.
set -euo pipefail
tarvo=$1
template=$2
work=$3
seconds=${4:-20}

rm -rf "$work"
mkdir -p "$work/machine"
cp "$template"/* "$work/machine/"

xvfb=""
cleanup() {
  [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  Xvfb :77 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  export DISPLAY=:77
  sleep 1
fi

# CPU time of the process so far, in nanoseconds.
cpuNs() { awk '{print $1}' "/proc/$pid/schedstat"; }
percent() { awk -v a="$1" -v b="$2" -v s="$seconds" 'BEGIN { printf "%.2f", (b - a) / 1e9 / s * 100 }'; }

start=$(date +%s%3N)
TARVO_REPORT_FIRST_PAINT=1 /usr/bin/time -v -o "$work/time.txt" \
  "$tarvo" --dir "$work/machine" 2>"$work/stderr.txt" &
timer=$!
pid=""
for _ in $(seq 100); do
  pid=$(pgrep -P "$timer" || true)
  grep -q "first frame painted" "$work/stderr.txt" 2>/dev/null && [ -n "$pid" ] && break
  sleep 0.1
done
painted=$(sed -n 's/.*first frame painted at \([0-9]*\) ms.*/\1/p' "$work/stderr.txt")
echo "start-up to the first painted frame: $((painted - start)) ms"

sleep 2
a=$(cpuNs)
sleep "$seconds"
b=$(cpuNs)
echo "real speed, ${seconds} s: $(percent "$a" "$b")% of one core"

window=$(xdotool search --pid "$pid" --name '^Tarvo$' | head -1)
import -window root "$work/running.png" 2>/dev/null || true

# Tab held: fast-forward should take most of a core.
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool keydown --window "$window" Tab
a=$(cpuNs)
sleep 5
b=$(cpuNs)
xdotool keyup --window "$window" Tab
awk -v a="$a" -v b="$b" 'BEGIN { printf "Tab held, 5 s: %.1f%% of one core\n", (b - a) / 1e9 / 5 * 100 }'
sleep 1

xdotool mousemove --window "$window" 5 70 click 1  # the power switch
sleep 2
import -window root "$work/switched-off.png" 2>/dev/null || true
a=$(cpuNs)
sleep "$seconds"
b=$(cpuNs)
echo "switched off, ${seconds} s: $(percent "$a" "$b")% of one core"

kill -TERM "$pid"
pid=""
wait "$timer" || true
rss=$(awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}' "$work/time.txt")
echo "peak resident memory: $rss kB"
