// The face as the window shows it: the composite of "face.bmp" with pressed
// keys, swapped labels and the LCD, kept as pixels and put on a canvas at a
// whole number of device pixels per face pixel, so that every LCD dot stays
// sharp at any zoom and pixel density.

export const FACE_WIDTH = 673;
export const FACE_HEIGHT = 294;
const LCD_X = 63;
const LCD_Y = 45;
const LCD_WIDTH = 384;
const LCD_HEIGHT = 64;
const LABEL_X = 58;
const LABEL_Y = 224;
const LABEL_PITCH = 33;
const LABEL_WIDTH = 432;
const LABEL_HEIGHT = 6;
const WHITE = 0xffffffff; // as a little-endian RGBA word
const POWER_KEY = 1;

// A plain RGBA pixel buffer with the copies the face needs.
class Pixels {
  constructor(width, height, fill = 0) {
    this.width = width;
    this.height = height;
    this.data = new Uint32Array(width * height).fill(fill);
  }

  static fromImageData(image) {
    const p = new Pixels(image.width, image.height);
    p.data.set(new Uint32Array(image.data.buffer.slice(0)));
    return p;
  }

  // Copies a w x h block of src at (sx, sy) to (dx, dy), clipped to both;
  // with transparent set, white source pixels leave the target as it was.
  // Overlapping copies within one buffer read the block first.
  copy(dx, dy, src, sx, sy, w, h, transparent = false) {
    const block = new Uint32Array(w * h);
    for (let y = 0; y < h; y++) {
      for (let x = 0; x < w; x++) {
        const px = sx + x, py = sy + y;
        block[y * w + x] =
          px >= 0 && py >= 0 && px < src.width && py < src.height ? src.data[py * src.width + px] : WHITE;
      }
    }
    for (let y = 0; y < h; y++) {
      const ty = dy + y;
      if (ty < 0 || ty >= this.height) continue;
      for (let x = 0; x < w; x++) {
        const tx = dx + x;
        if (tx < 0 || tx >= this.width) continue;
        const v = block[y * w + x];
        if (transparent && (v & 0xffffff) === 0xffffff) continue;
        this.data[ty * this.width + tx] = v;
      }
    }
  }
}

// Decodes a bitmap file's bytes (null when the file is missing) to pixels.
async function decode(bytes) {
  if (!bytes) return null;
  const bitmap = await createImageBitmap(new Blob([bytes], { type: 'image/bmp' }), {
    colorSpaceConversion: 'none',
    premultiplyAlpha: 'none',
  });
  const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
  const ctx = canvas.getContext('2d', { colorSpace: 'srgb' });
  ctx.drawImage(bitmap, 0, 0);
  return Pixels.fromImageData(ctx.getImageData(0, 0, bitmap.width, bitmap.height));
}

export class Face {
  // files: { 'face.bmp': bytes or null, 'keys.bmp': ..., 'overlay.bmp': ... };
  // report(name) is told of each bitmap that could not be loaded.
  static async load(files, report) {
    const face = new Face();
    const keys = await decode(files['keys.bmp']).catch(() => null);
    const overlay = await decode(files['overlay.bmp']).catch(() => null);
    const picture = await decode(files['face.bmp']).catch(() => null);
    if (!keys) report('keys.bmp');
    if (!overlay) report('overlay.bmp');
    if (!picture) report('face.bmp');
    face.keys = keys || new Pixels(168, 99, WHITE);
    face.overlay = overlay || new Pixels(LABEL_WIDTH, 2 * LABEL_HEIGHT, WHITE);
    if (picture) face.composite.copy(0, 0, picture, 0, 0, picture.width, picture.height);
    return face;
  }

  constructor() {
    // An empty face is black, as an empty bitmap is.
    this.composite = new Pixels(FACE_WIDTH, FACE_HEIGHT, 0xff000000);
    this.changed = null;  // the part not yet on the canvas: { x, y, width, height }
    this.markAll();
  }

  get dirty() { return this.changed !== null; }
  set dirty(value) { if (value) this.markAll(); else this.changed = null; }
  markAll() { this.mark(0, 0, FACE_WIDTH, FACE_HEIGHT); }
  mark(x, y, width, height) {
    const x0 = Math.max(0, x), y0 = Math.max(0, y);
    const x1 = Math.min(FACE_WIDTH, x + width), y1 = Math.min(FACE_HEIGHT, y + height);
    if (x1 <= x0 || y1 <= y0) return;
    const c = this.changed;
    if (!c) { this.changed = { x: x0, y: y0, width: x1 - x0, height: y1 - y0 }; return; }
    const ux = Math.min(c.x, x0), uy = Math.min(c.y, y0);
    this.changed = { x: ux, y: uy, width: Math.max(c.x + c.width, x1) - ux, height: Math.max(c.y + c.height, y1) - uy };
  }

  // Two equal pixels left of the optional key's place mean the face has none.
  hasOptionalKey() {
    const c = this.composite;
    return c.data[231 * c.width + 17] !== c.data[231 * c.width + 18];
  }

  // key: { code, x, y, width, height, imageX, imageY } as the emulator gives it.
  drawFrame(key, pressed) {
    const sx = pressed ? key.imageX : key.imageX + key.width;
    this.composite.copy(key.x, key.y, this.keys, sx, key.imageY, key.width, key.height, true);
    this.mark(key.x, key.y, key.width, key.height);
  }

  // A pressed key's inside moves one pixel right and down; the power switch
  // only changes its frame (pressed is its on position).
  drawKey(key, pressed) {
    if (key.code !== POWER_KEY) {
      const w = key.width - 8, h = key.height - 8;
      if (pressed) this.composite.copy(key.x + 5, key.y + 5, this.composite, key.x + 4, key.y + 4, w, h);
      else this.composite.copy(key.x + 4, key.y + 4, this.composite, key.x + 5, key.y + 5, w, h);
    }
    this.drawFrame(key, pressed);
  }

  swapLabels() {
    for (let k = 0; k < 2; k++) {
      const strip = new Pixels(LABEL_WIDTH, LABEL_HEIGHT);
      strip.copy(0, 0, this.composite, LABEL_X, LABEL_Y + LABEL_PITCH * k, LABEL_WIDTH, LABEL_HEIGHT);
      this.composite.copy(LABEL_X, LABEL_Y + LABEL_PITCH * k, this.overlay, 0, LABEL_HEIGHT * k,
                          LABEL_WIDTH, LABEL_HEIGHT);
      this.overlay.copy(0, LABEL_HEIGHT * k, strip, 0, 0, LABEL_WIDTH, LABEL_HEIGHT);
      this.mark(LABEL_X, LABEL_Y + LABEL_PITCH * k, LABEL_WIDTH, LABEL_HEIGHT);
    }
  }

  // lcd: 384 x 64 words of 0x00RRGGBB.
  drawLcd(lcd) {
    const out = this.composite.data;
    for (let y = 0; y < LCD_HEIGHT; y++) {
      let at = (LCD_Y + y) * FACE_WIDTH + LCD_X;
      for (let x = 0; x < LCD_WIDTH; x++) {
        const v = lcd[y * LCD_WIDTH + x];
        out[at++] = 0xff000000 | (v & 0xff) << 16 | (v & 0xff00) | (v >> 16 & 0xff);
      }
    }
    this.mark(LCD_X, LCD_Y, LCD_WIDTH, LCD_HEIGHT);
  }
}

// Shows a Face on a canvas, scaled by the largest whole number of device
// pixels per face pixel that fits the width on offer (at least one).
export class FaceView {
  constructor(canvas) {
    this.canvas = canvas;
    this.source = new OffscreenCanvas(FACE_WIDTH, FACE_HEIGHT);
    this.sourceCtx = this.source.getContext('2d');
    this.scale = 0;
  }

  fit(availableCssWidth) {
    const dpr = window.devicePixelRatio || 1;
    const scale = Math.max(1, Math.floor((availableCssWidth * dpr) / FACE_WIDTH));
    if (scale === this.scale && dpr === this.dpr) return false;
    this.scale = scale;
    this.dpr = dpr;
    this.canvas.width = FACE_WIDTH * scale;
    this.canvas.height = FACE_HEIGHT * scale;
    this.canvas.style.width = `${(FACE_WIDTH * scale) / dpr}px`;
    this.canvas.style.height = `${(FACE_HEIGHT * scale) / dpr}px`;
    return true;
  }

  // Puts the changed part of the face on the canvas, each face pixel as a
  // whole square of device pixels.
  draw(face) {
    const r = face.changed, c = face.composite, s = this.scale;
    if (!r) return;
    const block = new Uint32Array(r.width * r.height);
    for (let y = 0; y < r.height; y++) {
      const from = (r.y + y) * c.width + r.x;
      block.set(c.data.subarray(from, from + r.width), y * r.width);
    }
    this.sourceCtx.putImageData(new ImageData(new Uint8ClampedArray(block.buffer), r.width, r.height), r.x, r.y);
    const ctx = this.canvas.getContext('2d');
    ctx.imageSmoothingEnabled = false;
    ctx.drawImage(this.source, r.x, r.y, r.width, r.height, r.x * s, r.y * s, r.width * s, r.height * s);
    face.changed = null;
  }

  // The face pixel under a point of the page.
  facePoint(clientX, clientY) {
    const r = this.canvas.getBoundingClientRect();
    return {
      x: Math.floor(((clientX - r.left) * FACE_WIDTH) / r.width),
      y: Math.floor(((clientY - r.top) * FACE_HEIGHT) / r.height),
    };
  }
}
