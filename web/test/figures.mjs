// Figures of the web page: download size, emulated speed of the wasm core
// under Node.js against tarvo-run on the same run, and the page's CPU use
// at real speed in headless Chromium.
//
//   node web/test/figures.mjs BUILD_WEB NATIVE_BUILD [TICKS]
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import { createRequire } from 'node:module';
import path from 'node:path';
import { parseIni } from '../settings.js';
import { fileURLToPath, pathToFileURL } from 'node:url';
import zlib from 'node:zlib';

const here = path.dirname(fileURLToPath(import.meta.url));
const require = createRequire(path.join(here, '../package.json'));
const [root, native] = process.argv.slice(2, 4).map(p => path.resolve(p));
const ticks = Number(process.argv[4] || 30000);
const machineDir = path.join(root, 'machine');

// Download size: everything the page loads but the machine's files.
const pageFiles = ['index.html', 'main.js', 'face.js', 'store.js', 'settings.js', 'tarvo.js', 'tarvo.wasm', 'lib/crc-32.js', 'lib/ini.js'];
let raw = 0, gz = 0;
for (const f of pageFiles) {
  const bytes = fs.readFileSync(path.join(root, f));
  raw += bytes.length;
  gz += zlib.gzipSync(bytes, { level: 9 }).length;
}
console.log(`download: ${(raw / 1024).toFixed(1)} KiB, gzip -9 ${(gz / 1024).toFixed(1)} KiB (${pageFiles.length} files)`);

// The same run in both: the demo machine from power-on, BASIC counting to
// 100000 and printing every number, busy all through.
const program = '10 FOR I=1 TO 100000\n20 PRINT I\n30 NEXT I\nRUN\n';
const CRC32 = require('crc-32');
const ini = require('ini');
// The module's loader expects these of a CommonJS scope under Node.js.
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
tarvo.FS.mkdir('/machine');
for (const name of fs.readdirSync(machineDir)) tarvo.FS.writeFile(`/machine/${name}`, fs.readFileSync(path.join(machineDir, name)));
const str = s => tarvo.allocateUTF8(s);
// CPU seconds of this process (user + system).
const cpuNow = () => { const u = process.cpuUsage(); return (u.user + u.system) / 1e6; };
// Best of three of each: the machine is shared, and the least disturbed run
// is the one closest to what the code costs.
let wasmSeconds = Infinity, wasmDigest = '';
for (let round = 0; round < 3; round++) {
  tarvo._tw_start(str('/machine'), 0);
  tarvo._tw_run_ticks(100);
  tarvo._tw_type(str(program));
  const c0 = cpuNow();
  tarvo._tw_run_ticks(ticks - 100);
  wasmSeconds = Math.min(wasmSeconds, cpuNow() - c0);
  wasmDigest = tarvo.UTF8ToString(tarvo._tw_state_digest());
}

// tarvo-run's own CPU time, start and file loading included.
const typeText = program.replaceAll('\n', '{ENTER}');
let nativeSeconds = Infinity, nativeDigest = '';
for (let round = 0; round < 3; round++) {
  const run = spawnSync('bash', ['-c', 'TIMEFORMAT="%U %S"; time "$@"', 'time', path.join(native, 'src/cli/tarvo-run'),
    '--dir', machineDir, '--ticks', String(ticks), '--type', typeText, '--dump'], { encoding: 'utf8' });
  const [user, sys] = run.stderr.trim().split('\n').pop().split(' ').map(Number);
  nativeSeconds = Math.min(nativeSeconds, user + sys);
  nativeDigest = JSON.parse(run.stdout).stateDigest;
}
const emulated = ticks / 100;
console.log(`speed over ${emulated} emulated seconds, CPU time, best of 3: wasm under Node.js ${process.version} ` +
  `${wasmSeconds.toFixed(3)} s = ${(emulated / wasmSeconds).toFixed(0)} x real; native tarvo-run ` +
  `${nativeSeconds.toFixed(3)} s = ${(emulated / nativeSeconds).toFixed(0)} x real; ratio ` +
  `${(nativeSeconds / wasmSeconds).toFixed(2)}; same state digest: ${wasmDigest === nativeDigest}`);

// CPU of the page at real speed: Chromium's own task time over ten seconds.
const { chromium } = await import(path.join(here, '../node_modules/playwright-core/index.mjs'));
const server = http.createServer((req, res) => {
  let file = path.join(root, new URL(req.url, 'http://localhost').pathname);
  if (file.endsWith('/')) file += 'index.html';
  fs.readFile(file, (err, data) => {
    if (err) { res.writeHead(404); res.end(); return; }
    const type = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm' }[path.extname(file)];
    res.writeHead(200, type ? { 'content-type': type } : {});
    res.end(data);
  });
});
await new Promise(resolve => server.listen(0, '127.0.0.1', resolve));
const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ['--no-sandbox'] });
const page = await browser.newPage();
await page.goto(`http://127.0.0.1:${server.address().port}/`);
await page.evaluate(() => window.tarvo.ready);
const cdp = await page.context().newCDPSession(page);
await cdp.send('Performance.enable');
const task = async () => (await cdp.send('Performance.getMetrics')).metrics.find(m => m.name === 'TaskDuration').value;
// CPU seconds of every process under this one (the browser and its
// helpers), from /proc.
function browserCpu() {
  const procs = fs.readdirSync('/proc').filter(d => /^\d+$/.test(d)).map(pid => {
    try {
      const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
      const f = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
      return { pid: Number(pid), ppid: Number(f[1]), ticks: Number(f[11]) + Number(f[12]) };
    } catch { return null; }
  }).filter(Boolean);
  const family = new Set([process.pid]);
  for (let grew = true; grew;) {
    grew = false;
    for (const p of procs) if (family.has(p.ppid) && !family.has(p.pid)) { family.add(p.pid); grew = true; }
  }
  family.delete(process.pid);
  return procs.filter(p => family.has(p.pid)).reduce((sum, p) => sum + p.ticks, 0) / 100;
}
async function measure(what) {
  await page.waitForTimeout(2000);  // what came before is not counted
  const before = await task(), cpuBefore = browserCpu(), wallBefore = Date.now();
  await page.waitForTimeout(10000);
  const busy = (await task()) - before, cpu = browserCpu() - cpuBefore, wall = (Date.now() - wallBefore) / 1000;
  console.log(`page at real speed, ${what}, over ${wall.toFixed(1)} s: page main thread busy ` +
    `${(100 * busy / wall).toFixed(1)} %, all of Chromium's processes ${(100 * cpu / wall).toFixed(1)} % of one core`);
}
await measure('the machine waiting at its prompt');
await page.evaluate(p => window.tarvo.type(p), program);
await measure('BASIC printing');
await browser.close();
server.close();
