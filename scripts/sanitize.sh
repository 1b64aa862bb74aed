#!/usr/bin/env bash
# Builds the whole test suite with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs it. Any sanitizer report fails: every report stops its process
# (-fno-sanitize-recover=all, halt_on_error), and reports go to files in
# BUILD_DIR/sanitizer-reports/, which are printed at the end and fail the run
# even when they come from a child process whose exit status a test ignores.
#
# Usage: scripts/sanitize.sh [BUILD_DIR]     (default: build-sanitize)
# Environment:
#   TARVO_SANITIZE_GUI=OFF   leave out the Qt front end and its tests
#   TARVO_SOAK_SECONDS=N     emulated seconds of the demo soak (default of the test)
#   TARVO_CTEST_ARGS="..."   extra ctest arguments, e.g. "-R Soak"
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${TARVO_PACKAGES[@]}" socat util-linux

build=${1:-build-sanitize}
gui=${TARVO_SANITIZE_GUI:-ON}
sanitize="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DTARVO_WERROR=ON \
  -DTARVO_BUILD_GUI="$gui" -DTARVO_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="-O1 $sanitize" \
  -DCMAKE_EXE_LINKER_FLAGS="$sanitize" >/dev/null
cmake --build "$build" -j2

logs=$(cd "$build" && pwd)/sanitizer-reports
rm -rf "$logs"
mkdir -p "$logs"
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:log_path=$logs/asan"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$logs/ubsan"
export QT_QPA_PLATFORM=offscreen

status=0
(cd "$build" && ctest -j2 --output-on-failure --timeout 600 ${TARVO_CTEST_ARGS:-}) || status=$?

if compgen -G "$logs/*" >/dev/null; then
  echo "Sanitizer reports:"
  for f in "$logs"/*; do
    echo "== $f"
    cat "$f"
  done
  status=1
fi
exit $status
