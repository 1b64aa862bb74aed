// End-to-end tests of the web page in headless Chromium, against the
// native headless runner on the same machine files.
//
//   node web/test/page.test.mjs BUILD_WEB NATIVE_BUILD
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { parseIni } from '../settings.js';
import { fileURLToPath, pathToFileURL } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const { chromium } = await import(path.join(here, '../node_modules/playwright-core/index.mjs'));

const [root, native] = process.argv.slice(2).map(p => path.resolve(p));
const tarvoRun = path.join(native, 'src/cli/tarvo-run');
const machineDir = path.join(root, 'machine');
const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'tarvo-web-'));

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm', '.json': 'application/json' };
const server = http.createServer((req, res) => {
  let file = path.join(root, decodeURIComponent(new URL(req.url, 'http://localhost').pathname));
  if (file.endsWith('/')) file += 'index.html';
  if (!file.startsWith(root + path.sep)) { res.writeHead(403); res.end(); return; }
  fs.readFile(file, (err, data) => {
    if (err) { res.writeHead(404); res.end(); return; }
    res.writeHead(200, { 'content-type': TYPES[path.extname(file)] || 'application/octet-stream' });
    res.end(data);
  });
});
await new Promise(resolve => server.listen(0, '127.0.0.1', resolve));
const base = `http://127.0.0.1:${server.address().port}/`;
const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ['--no-sandbox'] });

let failures = 0;
async function test(name, body) {
  const started = Date.now();
  try {
    await body();
    console.log(`ok   ${name} (${Date.now() - started} ms)`);
  } catch (e) {
    failures++;
    console.log(`FAIL ${name}: ${e.stack || e}`);
  }
}
function check(condition, what) {
  if (!condition) throw new Error(what);
}

async function openPage(context, query = '') {
  const page = await context.newPage();
  page.on('pageerror', e => console.log(`  page error: ${e.message}`));
  await page.goto(base + query);
  await page.evaluate(() => window.tarvo.ready);
  return page;
}
const lcdText = page => page.evaluate(() => window.tarvo.text('tw_lcd_text'));
async function waitForLcd(page, pattern, ms = 15000) {
  const until = Date.now() + ms;
  let text = '';
  while (Date.now() < until) {
    text = await lcdText(page);
    if (pattern.test(text)) return text;
    await page.waitForTimeout(100);
  }
  throw new Error(`LCD never showed ${pattern}; it shows:\n${text}`);
}
function runNative(args) {
  return JSON.parse(execFileSync(tarvoRun, ['--dir', machineDir, ...args, '--dump'], { encoding: 'utf8' }));
}

await test('the demo machine boots to its banner, and the keyboard computes 12+34*5', async () => {
  const context = await browser.newContext({ deviceScaleFactor: 2 });
  const page = await openPage(context);
  await waitForLcd(page, /TARVO {2}pocket computer/);
  check((await page.textContent('#lcd-text')).includes('TARVO  pocket computer'), 'the text view lacks the banner');
  await page.focus('#stage');
  // At a typist's pace: each key is let go a moment after it went down.
  for (const key of [...'12+34*5', 'Enter']) {
    await page.keyboard.down(key);
    await page.waitForTimeout(30);
    await page.keyboard.up(key);
    await page.waitForTimeout(90);
  }
  const text = await waitForLcd(page, /\b182\b/);
  check(text.includes('>12+34*5'), `the typed line is not shown:\n${text}`);
  await context.close();
});

// One deterministic run in the page (clock stopped, run tick by tick) and
// the same run natively from the page's starting state.
await test('the page and tarvo-run agree on the LCD pixels and the state digest', async () => {
  const context = await browser.newContext({ deviceScaleFactor: 1.5 });
  const page = await openPage(context, '?paused');
  const run = await page.evaluate(() => {
    const t = window.tarvo;
    const start = Array.from(t.stateBytes());
    t.call('tw_run_ticks', 100);
    t.type('12+34*5\n');
    t.call('tw_run_ticks', 600);
    t.show();
    return { start, end: Array.from(t.stateBytes()), digest: t.text('tw_state_digest'), text: t.text('tw_lcd_text') };
  });
  check(/\b182\b/.test(run.text), `the page's LCD shows no 182:\n${run.text}`);
  const startFile = path.join(tmp, 'start.tst'), endFile = path.join(tmp, 'end.tst'), png = path.join(tmp, 'lcd.png');
  fs.writeFileSync(startFile, Buffer.from(run.start));
  fs.writeFileSync(endFile, Buffer.from(run.end));
  const nativeRun = runNative(['--state-in', startFile, '--ticks', '700', '--type', '12+34*5{ENTER}', '--lcd-png', png]);
  const loaded = runNative(['--state-in', endFile, '--ticks', '0']);
  check(loaded.stateDigest === run.digest, `page digest ${run.digest}, its state file loads as ${loaded.stateDigest}`);
  check(nativeRun.stateDigest === run.digest, `native run digest ${nativeRun.stateDigest}, page ${run.digest}`);

  // Every device pixel of the LCD on the canvas against the native image:
  // a whole number of device pixels per image pixel, no smoothing.
  const mismatch = await page.evaluate(async pngBase64 => {
    const img = await createImageBitmap(await (await fetch(`data:image/png;base64,${pngBase64}`)).blob());
    const ref = new OffscreenCanvas(img.width, img.height).getContext('2d');
    ref.drawImage(img, 0, 0);
    const want = ref.getImageData(0, 0, img.width, img.height).data;
    const canvas = document.getElementById('face');
    const s = canvas.width / 673;
    if (s !== Math.floor(s) || img.width !== 384 || img.height !== 64) return `scale ${s}, image ${img.width}x${img.height}`;
    const got = canvas.getContext('2d').getImageData(63 * s, 45 * s, 384 * s, 64 * s).data;
    let bad = 0, dark = 0;
    for (let y = 0; y < 64 * s; y++) {
      for (let x = 0; x < 384 * s; x++) {
        const g = (y * 384 * s + x) * 4, w = (Math.floor(y / s) * 384 + Math.floor(x / s)) * 4;
        if (got[g] !== want[w] || got[g + 1] !== want[w + 1] || got[g + 2] !== want[w + 2]) bad++;
        if (got[g] === 0) dark++;
      }
    }
    return bad ? `${bad} pixels differ` : dark ? '' : 'the LCD is blank';
  }, fs.readFileSync(png).toString('base64'));
  check(mismatch === '', mismatch);

  // The buttons: a state downloaded as a ".tst" file, and one loaded from a file.
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#save-state')]);
  check(download.suggestedFilename().endsWith('.tst'), `download named ${download.suggestedFilename()}`);
  const downloaded = path.join(tmp, 'downloaded.tst');
  await download.saveAs(downloaded);
  check(runNative(['--state-in', downloaded, '--ticks', '0']).stateDigest === run.digest, 'the downloaded state differs');
  await page.setInputFiles('#load-state', startFile);
  await page.waitForFunction(() => document.getElementById('status').textContent.startsWith('Loaded'));
  const startDigest = runNative(['--state-in', startFile, '--ticks', '0']).stateDigest;
  check(await page.evaluate(() => window.tarvo.text('tw_state_digest')) === startDigest, 'the loaded state differs');
  // A ".tst" file dropped on the face loads as well.
  await page.evaluate(bytes => {
    const data = new DataTransfer();
    data.items.add(new File([new Uint8Array(bytes)], 'end.tst'));
    document.getElementById('stage').dispatchEvent(new DragEvent('drop', { dataTransfer: data, bubbles: true, cancelable: true }));
  }, run.end);
  await page.waitForFunction(() => document.getElementById('status').textContent === 'Loaded end.tst');
  check(await page.evaluate(() => window.tarvo.text('tw_state_digest')) === run.digest, 'the dropped state differs');
  // A damaged one is refused, says why, and leaves the machine as it was.
  const damaged = run.end.slice();
  damaged[100] ^= 0xff;
  fs.writeFileSync(path.join(tmp, 'damaged.tst'), Buffer.from(damaged));
  await page.setInputFiles('#load-state', path.join(tmp, 'damaged.tst'));
  await page.waitForFunction(() => document.getElementById('status').textContent.startsWith('Failed to load the file damaged.tst: '));
  check(await page.evaluate(() => window.tarvo.text('tw_state_digest')) === run.digest, 'a refused state changed the machine');
  // F5 saves "quick.tst", F7 brings the machine back to it.
  await page.focus('#stage');
  await page.keyboard.press('F5');
  await page.waitForFunction(() => document.getElementById('status').textContent === 'Saved quick.tst');
  await page.evaluate(() => window.tarvo.call('tw_run_ticks', 50));
  check(await page.evaluate(() => window.tarvo.text('tw_state_digest')) !== run.digest, 'the machine did not move on');
  await page.keyboard.press('F7');
  check(await page.evaluate(() => window.tarvo.text('tw_state_digest')) === run.digest, 'F7 did not load quick.tst');
  await context.close();
});

await test('a click on the centre of every key presses that key', async () => {
  const context = await browser.newContext({ deviceScaleFactor: 1 });
  const page = await openPage(context, '?paused');
  const wrong = [];
  const keys = await page.evaluate(() => {
    const t = window.tarvo;
    const out = [];
    for (let code = 1; code <= 81; code++) out.push(t.key(code));
    return { keys: out, optional: t.optionalKey };
  });
  check(keys.optional === 1 && keys.keys.every(Boolean), 'the demo face lacks keys');
  const box = await page.locator('#face').boundingBox();
  const faceBefore = await page.evaluate(() => Array.from(window.tarvo.face.composite.data));
  for (const k of keys.keys) {
    const x = box.x + ((k.x + k.width / 2) * box.width) / 673, y = box.y + ((k.y + k.height / 2) * box.height) / 294;
    await page.mouse.move(x, y);
    await page.mouse.down();
    const held = await page.evaluate(() => window.tarvo.call('tw_mouse_key'));
    await page.mouse.up();
    const after = await page.evaluate(() => window.tarvo.call('tw_mouse_key'));
    if (held !== k.code || after !== 0) wrong.push(`${k.code}: held ${held}, then ${after}`);
  }
  check(wrong.length === 0, `keys not pressed by their centre: ${wrong.join('; ')}`);
  // The click on the power switch flipped it once: it is off now, and a
  // second click puts it back on.
  check(await page.evaluate(() => window.tarvo.powerOn()) === false, 'the power switch did not flip');
  const power = keys.keys[0];
  await page.mouse.click(box.x + ((power.x + power.width / 2) * box.width) / 673,
                         box.y + ((power.y + power.height / 2) * box.height) / 294);
  check(await page.evaluate(() => window.tarvo.powerOn()) === true, 'the power switch did not flip back');
  // Every key drawn pressed and released again leaves the face as it was.
  const faceAfter = await page.evaluate(() => Array.from(window.tarvo.face.composite.data));
  const changed = faceAfter.filter((v, i) => v !== faceBefore[i]).length;
  check(changed === 0, `${changed} face pixels differ after every key went down and up`);
  await context.close();
});

await test('a BASIC program survives a reload', async () => {
  const context = await browser.newContext();
  let page = await openPage(context);
  await waitForLcd(page, /TARVO/);
  await page.evaluate(() => window.tarvo.type('10 PRINT 6*7\nRUN\n'));
  await waitForLcd(page, /\b42\b/);
  await page.waitForTimeout(2500);  // the page keeps the RAM every two seconds
  await page.reload();
  await page.evaluate(() => window.tarvo.ready);
  await page.waitForTimeout(1000);
  await page.evaluate(() => window.tarvo.type('LIST\n'));
  await waitForLcd(page, /10 PRINT 6\*7\n>_/);
  await context.close();
});

// The settings text goes through the page's parser (the ini library): a
// slower clock and a comment must be read as tarvo-run reads them.
await test('the wasm core under Node.js reads "tarvo.ini" as tarvo-run does', async () => {
  const { createRequire } = await import('node:module');
  const require = createRequire(path.join(here, '../package.json'));
  const ini = require('ini'), CRC32 = require('crc-32');
  const dir = path.join(tmp, 'slow');
  fs.mkdirSync(dir);
  for (const name of fs.readdirSync(machineDir)) fs.copyFileSync(path.join(machineDir, name), path.join(dir, name));
  fs.writeFileSync(path.join(dir, 'tarvo.ini'), '; a slower clock, given twice: the first counts\n[Settings]\nOscFreq = 0x1C7\nOptionCode=341\nOscFreq = 910\n');
  globalThis.__dirname = root;
  globalThis.require = require;
  const { default: createTarvo } = await import(pathToFileURL(path.join(root, 'tarvo.js')));
  const tarvo = await createTarvo({
    wasmBinary: fs.readFileSync(path.join(root, 'tarvo.wasm')),
    host: {
      crc32: bytes => CRC32.buf(bytes),
      parseIni: text => parseIni(ini, text),
    },
  });
  tarvo.FS.mkdir('/m');
  for (const name of fs.readdirSync(dir)) tarvo.FS.writeFile(`/m/${name}`, fs.readFileSync(path.join(dir, name)));
  tarvo._tw_start(tarvo.allocateUTF8('/m'), 0);
  tarvo._tw_run_ticks(300);
  const digest = tarvo.UTF8ToString(tarvo._tw_state_digest());
  const nativeRun = JSON.parse(execFileSync(tarvoRun, ['--dir', dir, '--ticks', '300', '--dump'], { encoding: 'utf8' }));
  const defaultRun = runNative(['--ticks', '300']);
  check(nativeRun.stateDigest !== defaultRun.stateDigest, 'the settings change nothing natively');
  check(digest === nativeRun.stateDigest, `wasm ${digest}, native ${nativeRun.stateDigest}`);
});

await browser.close();
server.close();
fs.rmSync(tmp, { recursive: true, force: true });
console.log(failures ? `${failures} failed` : 'all passed');
process.exit(failures ? 1 : 0);
