#!/usr/bin/env bash
# Builds the emulator, its tools and the demo machine, then starts the window on the
# machine directory build/machine. The directory is filled from the generated
# demo files (newer ones replace older copies) and reused afterwards, so the
# machine's RAM persists from run to run. Any argument is passed on to tarvo (for example
# --dir PATH for a machine directory of your own).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${TARVO_PACKAGES[@]}"

# Only what runs: the window, the tools and the demo machine. The tests and
# the benchmarks are the test command's (scripts/test.sh), which builds them
# in the same tree, so what is built here is not built again there.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTARVO_BUILD_TESTS=OFF -DTARVO_BUILD_BENCH=OFF \
  >/dev/null
cmake --build build -j2

machine=build/machine
mkdir -p "$machine"
for f in build/machine-template/*; do
  cp -u "$f" "$machine/"
done
if [ $# -gt 0 ]; then
  exec build/src/gui/tarvo "$@"
fi
exec build/src/gui/tarvo --dir "$machine"
