// The page: loads the machine's files, starts the emulator module, paces it
// by animation frames and forwards the mouse, touch and keyboard to it.
import createTarvo from './tarvo.js';
import CRC32 from './lib/crc-32.js';
import ini from './lib/ini.js';
import { Face, FaceView } from './face.js';
import { parseIni } from './settings.js';
import { clearMachine, loadFiles, storeFiles } from './store.js';

const DIR = '/machine';
// The files the emulator writes back, kept in the browser between visits.
const KEPT = ['register.bin', 'ram0.bin', 'ram1.bin'];
const BITMAPS = ['face.bmp', 'keys.bmp', 'overlay.bmp'];
const AUTOSAVE_MS = 2000;
// A host key goes up at the earliest after this many run ticks: key events
// come between animation frames, and a key pressed and let go within one
// frame would otherwise never be seen by the program.
const MIN_HOLD_TICKS = 5;
const POWER_KEY = 1, MINIMISE_KEY = 2, CLOSE_KEY = 3;
// Special host keys in the emulator's order.
const HOST_KEYS = ['Backspace', 'Enter', 'Escape', 'PageUp', 'PageDown', 'ArrowLeft', 'ArrowUp',
                   'ArrowRight', 'ArrowDown', 'Insert', 'Delete', 'F8'];

const $ = id => document.getElementById(id);
const status = text => { $('status').textContent = text; };

const machineName = () => localStorage.getItem('tarvo.machine') || 'demo';

// The demo machine's files as the build put them beside the page.
async function demoFiles() {
  const names = await (await fetch('machine/files.json')).json();
  const out = {};
  await Promise.all(names.map(async name => {
    const r = await fetch(`machine/${name}`);
    if (r.ok) out[name] = new Uint8Array(await r.arrayBuffer());
  }));
  return out;
}

class Page {
  async start() {
    this.machine = machineName();
    const stored = await loadFiles(this.machine).catch(() => ({}));
    const files = this.machine === 'demo' ? { ...(await demoFiles()), ...stored } : stored;
    this.messages = [];
    this.tarvo = await createTarvo({
      host: { crc32: bytes => CRC32.buf(bytes), parseIni: text => parseIni(ini, text) },
      onMessage: text => this.report(text),
    });
    const FS = this.tarvo.FS;
    FS.mkdir(DIR);
    for (const [name, bytes] of Object.entries(files)) FS.writeFile(`${DIR}/${name}`, bytes);

    this.face = await Face.load(Object.fromEntries(BITMAPS.map(n => [n, files[n] || null])),
                                name => this.report(`Failed to load the file ${name}`));
    this.optionalKey = this.face.hasOptionalKey() ? 1 : 0;
    this.call('tw_start', DIR, this.optionalKey);
    this.view = new FaceView($('face'));
    this.fit();
    this.keyRect = this.tarvo._malloc(24);
    this.lcdLines = '';
    this.stored = this.snapshotKept();
    $('machine-name').textContent = this.machine === 'demo' ? 'Demo machine' : 'Your machine';
    this.wireInput();
    this.wireButtons();
    this.last = null;
    // "?paused" starts with the clock stopped (tw_run_ticks still runs it).
    this.paused = new URLSearchParams(location.search).has('paused');
    this.running = !document.hidden && !this.paused;
    this.heldTicks = 0;
    this.releasePending = false;
    this.slot = 1;
    requestAnimationFrame(t => this.frame(t));
    setInterval(() => this.persist(), AUTOSAVE_MS);
  }

  // Calls an exported function; strings go in as C strings and come back
  // as JavaScript strings when the function answers a char pointer.
  call(name, ...args) {
    const held = [];
    const c = args.map(a => {
      if (typeof a !== 'string') return a;
      const p = this.tarvo.allocateUTF8(a);
      held.push(p);
      return p;
    });
    const result = this.tarvo[`_${name}`](...c);
    held.forEach(p => this.tarvo._free(p));
    return result;
  }
  text(name, ...args) { return this.tarvo.UTF8ToString(this.call(name, ...args)); }

  report(text) {
    this.messages.push(text);
    status(text);
  }

  fit() {
    if (this.view.fit(document.querySelector('main').clientWidth)) this.face.dirty = true;
  }

  frame(t) {
    requestAnimationFrame(t2 => this.frame(t2));
    if (this.running) {
      if (this.last !== null) this.heldTicks += this.call('tw_run_for', t - this.last);
      this.last = t;
      if (this.releasePending && this.heldTicks >= MIN_HOLD_TICKS) this.releaseHostKey();
    } else {
      this.last = null;
    }
    this.show();  // keys pressed while the clock stands are drawn too
  }

  // Brings the face and the LCD text up to date with the emulator.
  show() {
    if (this.call('tw_lcd_changed')) {
      const p = this.call('tw_lcd_pixels') >> 2;
      this.face.drawLcd(this.tarvo.HEAPU32.subarray(p, p + 384 * 64));
      this.call('tw_lcd_seen');
      const lines = this.text('tw_lcd_text');
      if (lines !== this.lcdLines) {
        this.lcdLines = lines;
        $('lcd-text').textContent = lines;
      }
    }
    if (this.face.dirty) this.view.draw(this.face);
  }

  key(code) {
    if (!this.call('tw_key_rect', code, this.optionalKey, this.keyRect)) return null;
    const r = this.tarvo.HEAP32.subarray(this.keyRect >> 2, (this.keyRect >> 2) + 6);
    return { code, x: r[0], y: r[1], width: r[2], height: r[3], imageX: r[4], imageY: r[5] };
  }

  powerOn() { return this.call('tw_power_on') !== 0; }

  // The mouse key goes up or the pointer left it: drawn released (the
  // power switch where it stands).
  releaseMouseKey(point) {
    const code = this.call('tw_mouse_key');
    if (!code) return false;
    const k = this.key(code);
    if (point && point.x >= k.x && point.x < k.x + k.width && point.y >= k.y && point.y < k.y + k.height)
      return false;
    this.face.drawKey(k, code === POWER_KEY ? this.powerOn() : false);
    this.call('tw_mouse_cancel');
    return true;
  }

  pointerDown(point) {
    this.releaseMouseKey(null);
    const code = this.call('tw_key_at', point.x, point.y, this.optionalKey);
    if (!code) return;
    const k = this.key(code);
    this.face.drawKey(k, code === POWER_KEY ? !this.powerOn() : true);  // the switch: where it will go
    this.call('tw_mouse_down', code);
  }

  pointerUp() {
    const code = this.call('tw_mouse_key');
    if (!code) return;
    const k = this.key(code);
    this.call('tw_mouse_up');  // flips the switch, wakes on the wake key
    this.face.drawKey(k, code === POWER_KEY ? this.powerOn() : false);
    if (code === MINIMISE_KEY || code === CLOSE_KEY) status('The page has no window to minimise or close.');
  }

  wireInput() {
    const canvas = $('face'), stage = $('stage');
    canvas.addEventListener('pointerdown', e => {
      if (e.button !== 0) return;
      e.preventDefault();
      stage.focus();
      canvas.setPointerCapture(e.pointerId);
      this.pointerDown(this.view.facePoint(e.clientX, e.clientY));
    });
    canvas.addEventListener('pointermove', e => {
      if (e.buttons & 1) this.releaseMouseKey(this.view.facePoint(e.clientX, e.clientY));
    });
    canvas.addEventListener('pointerup', e => { if (e.button === 0) this.pointerUp(); });
    canvas.addEventListener('pointercancel', () => this.releaseMouseKey(null));
    canvas.addEventListener('contextmenu', e => e.preventDefault());

    window.addEventListener('keydown', e => this.keyDown(e));
    window.addEventListener('keyup', e => {
      if (e.target instanceof HTMLInputElement) return;
      if (this.heldTicks >= MIN_HOLD_TICKS) this.releaseHostKey();
      else this.releasePending = true;
    });
    window.addEventListener('blur', () => {
      this.releaseMouseKey(null);
      this.releaseHostKey();
    });
    document.addEventListener('paste', e => {
      const text = e.clipboardData.getData('text/plain');
      if (text) { e.preventDefault(); this.type(text); }
    });
    document.addEventListener('visibilitychange', () => {
      this.running = !document.hidden && !this.paused;
      if (document.hidden) this.persist();
    });
    window.addEventListener('pagehide', () => this.persist());
    window.addEventListener('resize', () => this.fit());
    matchMedia(`(resolution: ${window.devicePixelRatio}dppx)`).addEventListener?.('change', () => this.fit());

    // Dropping a ".tst" file loads the state; other files are a machine.
    stage.addEventListener('dragover', e => { e.preventDefault(); stage.classList.add('dragging'); });
    stage.addEventListener('dragleave', () => stage.classList.remove('dragging'));
    stage.addEventListener('drop', e => {
      e.preventDefault();
      stage.classList.remove('dragging');
      const files = [...e.dataTransfer.files];
      if (files.length === 1 && files[0].name.toLowerCase().endsWith('.tst')) this.loadStateFile(files[0]);
      else if (files.length) this.openMachine(files);
    });
  }

  keyDown(e) {
    if (e.target instanceof HTMLInputElement || e.ctrlKey || e.metaKey || e.altKey) return;
    const special = HOST_KEYS.indexOf(e.key);
    let handled = true;
    if (e.key === 'F2') { if (!e.repeat) this.face.swapLabels(); }
    else if (e.key === 'F9') { if (!e.repeat) this.call('tw_reset'); }
    else if (e.key === 'F5') { if (!e.repeat) this.saveStateKey(e.shiftKey); }
    else if (e.key === 'F7') { if (!e.repeat) this.loadStateKey(e.shiftKey); }
    else if (e.key === 'F6') this.nextSlot(e.shiftKey);
    else if (special >= 0) this.call('tw_host_key', special);
    else if ([...e.key].length === 1) handled = this.call('tw_host_char', e.key.codePointAt(0)) !== 0;
    else handled = false;
    if (!handled) return;
    e.preventDefault();
    if (special >= 0 || [...e.key].length === 1) {  // a machine key went down
      this.heldTicks = 0;
      this.releasePending = false;
    }
  }

  releaseHostKey() {
    this.releasePending = false;
    this.call('tw_host_up');
  }

  type(text) {
    const skipped = this.call('tw_type', text);
    status(skipped ? `${skipped} characters have no key and were left out.` : '');
  }

  // The kept files as the emulator would write them now.
  snapshotKept() {
    this.call('tw_save_files');
    const out = {};
    for (const name of KEPT) {
      try { out[name] = this.tarvo.FS.readFile(`${DIR}/${name}`); } catch { /* not written */ }
    }
    return out;
  }

  // Keeps the RAM images and "register.bin" that changed since last time.
  async persist() {
    const now = this.snapshotKept();
    const changed = {};
    for (const [name, bytes] of Object.entries(now)) {
      const before = this.stored[name];
      if (!before || before.length !== bytes.length || before.some((b, i) => b !== bytes[i])) changed[name] = bytes;
    }
    if (!Object.keys(changed).length) return;
    this.stored = { ...this.stored, ...changed };
    await storeFiles(this.machine, changed);
  }

  stateBytes() {
    const path = '/state.tst';
    if (!this.call('tw_save_state', path)) { status('Failed to save the state'); return null; }
    return this.tarvo.FS.readFile(path);
  }

  // Loads the state file at path (shown as name); a state taken with other
  // ROM images loads only when the user agrees.
  loadStatePath(path, name) {
    let result = this.call('tw_load_state', path, 0);
    if (result === 2) {
      if (!confirm(`${name} was saved with other ROM images or another character set. Load it anyway?`)) {
        status(`Not loaded: ${name}`);
        return false;
      }
      result = this.call('tw_load_state', path, 1);
    }
    if (result !== 0) {
      status(`Failed to load the file ${name}: ${this.text('tw_reason')}`);
      return false;
    }
    this.face.drawFrame(this.key(POWER_KEY), this.powerOn());  // the switch as the state has it
    status(`Loaded ${name}`);
    return true;
  }

  loadState(bytes, name) {
    this.tarvo.FS.writeFile('/load.tst', bytes);
    return this.loadStatePath('/load.tst', name);
  }

  // F5 and F7: "quick.tst", with Shift the slot's "stateN.tst", in the
  // machine directory (and so kept in the browser); F6 picks the slot.
  stateFileName(shift) { return shift ? `state${this.slot}.tst` : 'quick.tst'; }
  async saveStateKey(shift) {
    const name = this.stateFileName(shift);
    if (!this.call('tw_save_state', `${DIR}/${name}`)) { status(`Failed to save the file ${name}`); return; }
    status(`Saved ${name}`);
    await storeFiles(this.machine, { [name]: this.tarvo.FS.readFile(`${DIR}/${name}`) });
  }
  loadStateKey(shift) {
    this.loadStatePath(`${DIR}/${this.stateFileName(shift)}`, this.stateFileName(shift));
  }
  nextSlot(back) {
    this.slot = back ? ((this.slot + 2) % 4) + 1 : (this.slot % 4) + 1;
    status(`Slot ${this.slot} (state${this.slot}.tst)`);
  }

  downloadState() {
    const bytes = this.stateBytes();
    if (!bytes) return;
    const stamp = new Date().toISOString().replace(/[-:]/g, '').replace('T', '-').slice(0, 15);
    const a = document.createElement('a');
    a.href = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
    a.download = `tarvo-${stamp}.tst`;
    a.click();
    setTimeout(() => URL.revokeObjectURL(a.href), 10000);
  }

  async loadStateFile(file) {
    this.loadState(new Uint8Array(await file.arrayBuffer()), file.name);
  }

  // A machine directory picked or dropped: its files by bare name replace
  // the stored "user" machine, which then starts.
  async openMachine(fileList) {
    const files = {};
    for (const f of fileList) files[f.name] = new Uint8Array(await f.arrayBuffer());
    if (!files['rom0.bin'] && !files['rom1.bin']) {
      status('A machine folder holds at least "rom0.bin" or "rom1.bin".');
      return;
    }
    await this.persist();
    await clearMachine('user');
    await storeFiles('user', files);
    localStorage.setItem('tarvo.machine', 'user');
    location.reload();
  }

  async factoryReset() {
    const what = this.machine === 'demo' ? 'the demo machine\'s RAM and registers'
                                         : 'your machine\'s files (the demo machine comes back)';
    if (!confirm(`Reset to factory: forget ${what}?`)) return;
    this.running = false;
    this.persist = async () => {};  // nothing more is kept from this run
    await clearMachine(this.machine);
    localStorage.removeItem('tarvo.machine');
    location.reload();
  }

  wireButtons() {
    $('save-state').addEventListener('click', () => this.downloadState());
    $('load-state').addEventListener('change', e => {
      if (e.target.files[0]) this.loadStateFile(e.target.files[0]);
      e.target.value = '';
    });
    $('paste').addEventListener('click', async () => {
      try { this.type(await navigator.clipboard.readText()); }
      catch { status('The browser did not hand over the clipboard; press Ctrl+V on the face instead.'); }
    });
    $('power-on').addEventListener('click', () => this.call('tw_reset'));
    $('pick-folder').addEventListener('change', e => this.openMachine([...e.target.files]));
    $('pick-files').addEventListener('change', e => this.openMachine([...e.target.files]));
    $('factory').addEventListener('click', () => this.factoryReset());
  }
}

const page = new Page();
window.tarvo = page;  // for the console and the tests
page.ready = page.start().catch(e => { status(`The emulator did not start: ${e.message || e}`); throw e; });
