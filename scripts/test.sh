#!/usr/bin/env bash
# Builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${TARVO_PACKAGES[@]}" socat

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTARVO_WERROR=ON >/dev/null
cmake --build build -j2
cd build
QT_QPA_PLATFORM=offscreen ctest -j2 --output-on-failure --timeout 300
