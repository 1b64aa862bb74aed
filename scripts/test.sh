#!/usr/bin/env bash
# Builds everything and runs every test: a bounded fuzzing run of every fuzz
# target, the whole test suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the normal build and its tests (whose
# summary comes last).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${TARVO_PACKAGES[@]}" socat xvfb openbox xdotool x11-utils lintian

bash scripts/fuzz.sh "${TARVO_FUZZ_SECONDS:-30}"
bash scripts/sanitize.sh build-sanitize

# The tests and benchmarks too (the run command leaves them out).
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTARVO_WERROR=ON -DTARVO_BUILD_TESTS=ON \
  -DTARVO_BUILD_BENCH=ON >/dev/null
cmake --build build -j2
cd build
QT_QPA_PLATFORM=offscreen ctest -j2 --output-on-failure --timeout 300
