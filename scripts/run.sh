#!/usr/bin/env bash
# Builds the emulator and starts it on the machine directory build/machine.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${TARVO_PACKAGES[@]}"

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2
mkdir -p build/machine
if [ -x build/src/gui/tarvo ]; then
  exec build/src/gui/tarvo --dir build/machine "$@"
fi
exec build/src/cli/tarvo-run --dir build/machine --dump "$@"
