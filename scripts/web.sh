#!/usr/bin/env bash
# Builds the web page into build-web/: the machine and the front panel as
# WebAssembly (tarvo.wasm and its module tarvo.js), the page's own modules,
# the JavaScript libraries it loads, and the demo machine's files in
# build-web/machine/. Serve it with: python3 -m http.server -d build-web
#
#   bash scripts/web.sh          build
#   bash scripts/web.sh --test   build, then test the page in headless Chromium
#
# The demo machine's files come from a native build (TARVO_NATIVE_BUILD,
# default build/), whose target machine_template makes them.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages emscripten node-acorn
command -v npm >/dev/null || ensure_packages nodejs npm
# emscripten's JavaScript optimiser finds acorn among Debian's node modules.
export NODE_PATH=/usr/share/nodejs

native=${TARVO_NATIVE_BUILD:-build}
out=build-web

if [ ! -f "$native/CMakeCache.txt" ]; then
  ensure_packages "${TARVO_PACKAGES[@]}"
  cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$native" -j2 --target machine_template tarvo-run >/dev/null

(cd web && npm ci --no-audit --no-fund --loglevel=error >/dev/null)

emcmake cmake -S . -B "$out/cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVO_WERROR=ON \
  -UCMAKE_CXX_COMPILER_LAUNCHER >/dev/null
if ! cmake --build "$out/cmake" -j2 >"$out/cmake/build.log" 2>&1; then
  cat "$out/cmake/build.log"
  exit 1
fi

cp "$out/cmake/web/tarvo.js" "$out/cmake/web/tarvo.wasm" web/index.html web/main.js web/face.js web/settings.js \
  web/store.js "$out/"

# The libraries are CommonJS; the page imports them as modules.
mkdir -p "$out/lib"
{
  echo 'const exports = {};'
  cat web/node_modules/crc-32/crc32.js
  echo 'export default exports;'
} >"$out/lib/crc-32.js"
{
  echo 'const module = { exports: {} };'
  cat web/node_modules/ini/lib/ini.js
  echo 'export default module.exports;'
} >"$out/lib/ini.js"

rm -rf "$out/machine"
mkdir -p "$out/machine"
cp "$native"/machine-template/* "$out/machine/"
(cd "$out/machine" && ls | grep -v '^files.json$' |
  node -e 'process.stdout.write(JSON.stringify(require("fs").readFileSync(0, "utf8").split("\n").filter(Boolean)))' \
    >files.json)
echo "Built $out/ (serve it with: python3 -m http.server -d $out)"

if [ "${1:-}" = "--test" ]; then
  ensure_packages chromium
  node web/test/page.test.mjs "$out" "$native"
fi
