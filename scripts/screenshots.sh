#!/usr/bin/env bash
# Takes the README's pictures of the window: the demo machine after a small
# calculation, at 1x and 2x, on a virtual X display (Xvfb) with no window
# manager. Writes docs/tarvo.png and docs/tarvo-2x.png. Run after a build.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

shoot() {  # zoom output.png
  local zoom=$1 out=$2 machine="$work/machine-$1"
  mkdir -p "$machine" "$work/fb-$zoom"
  cp "$build"/machine-template/* "$machine/"
  # Boot and calculate headless first, so the window starts on a screen
  # with something on it (the RAM keeps the screen).
  "$build/src/cli/tarvo-run" --dir "$machine" --ticks 1500 --type '10 FOR I=1 TO 5:PRINT I*I;" ";:NEXT I{ENTER}RUN{ENTER}12+34*5{ENTER}' --save >/dev/null
  # A display number of its own, whatever else runs on this machine.
  Xvfb -displayfd 3 -screen 0 1600x800x24 -fbdir "$work/fb-$zoom" -br -nocursor -nolisten tcp \
    3>"$work/display-$zoom" &
  local xvfb=$!
  sleep 1
  DISPLAY=:$(cat "$work/display-$zoom") XDG_CONFIG_HOME="$work/config" "$build/src/gui/tarvo" --dir "$machine" --zoom "$zoom" &
  local tarvo=$!
  sleep 3
  python3 - "$work/fb-$zoom/Xvfb_screen0" "$out" <<'PY'
# The Xvfb frame buffer (XWD format) cropped to what differs from the black
# root window, written as PNG.
import struct, sys, zlib
data = open(sys.argv[1], 'rb').read()
h = struct.unpack('>25I', data[:100])
header_size, width, height, bpl, ncolors = h[0], h[4], h[5], h[12], h[19]
pixels = data[header_size + ncolors * 12:]
def px(x, y):
    o = y * bpl + x * 4
    b, g, r = pixels[o], pixels[o + 1], pixels[o + 2]
    return r, g, b
xs = [x for x in range(width) if any(px(x, y) != (0, 0, 0) for y in range(0, height, 3))]
ys = [y for y in range(height) if any(px(x, y) != (0, 0, 0) for x in range(0, width, 3))]
x0, x1, y0, y1 = min(xs), max(xs), min(ys), max(ys)
rows = b''.join(b'\0' + b''.join(bytes(px(x, y)) for x in range(x0, x1 + 1)) for y in range(y0, y1 + 1))
def chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body) & 0xffffffff)
png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', x1 - x0 + 1, y1 - y0 + 1, 8, 2, 0, 0, 0))
png += chunk(b'IDAT', zlib.compress(rows, 9)) + chunk(b'IEND', b'')
open(sys.argv[2], 'wb').write(png)
print(sys.argv[2], x1 - x0 + 1, 'x', y1 - y0 + 1)
PY
  kill "$tarvo"; wait "$tarvo" || true
  kill "$xvfb"; wait "$xvfb" || true
}

shoot 1 docs/tarvo.png
shoot 2 docs/tarvo-2x.png
