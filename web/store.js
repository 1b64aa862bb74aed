// The browser's keeping of machine files (IndexedDB): for each machine
// ("demo" or "user"), its files by bare name, as the desktop keeps them in
// the machine directory.

const DB_NAME = 'tarvo';
const FILES = 'files';

// One connection for the page's life, so that a store made while the page
// goes away starts its transaction at once.
let connection = null;
function open() {
  connection ||= new Promise((resolve, reject) => {
    const request = indexedDB.open(DB_NAME, 1);
    request.onupgradeneeded = () => request.result.createObjectStore(FILES);
    request.onsuccess = () => resolve(request.result);
    request.onerror = () => { connection = null; reject(request.error); };
  });
  return connection;
}

function run(mode, work) {
  return open().then(db => new Promise((resolve, reject) => {
    const tx = db.transaction(FILES, mode);
    const result = work(tx.objectStore(FILES));
    tx.oncomplete = () => resolve(result && 'result' in result ? result.result : undefined);
    tx.onerror = () => reject(tx.error);
    tx.onabort = () => reject(tx.error);
  }));
}

// { name: Uint8Array } of every file stored for machine.
export async function loadFiles(machine) {
  const prefix = `${machine}/`;
  const out = {};
  await open().then(db => new Promise((resolve, reject) => {
    const tx = db.transaction(FILES, 'readonly');
    const request = tx.objectStore(FILES).openCursor(IDBKeyRange.bound(prefix, `${prefix}\uffff`));
    request.onsuccess = () => {
      const cursor = request.result;
      if (!cursor) return;
      out[cursor.key.slice(prefix.length)] = new Uint8Array(cursor.value);
      cursor.continue();
    };
    tx.oncomplete = () => resolve();
    tx.onerror = () => reject(tx.error);
  }));
  return out;
}

// Stores { name: Uint8Array } for machine, beside what it has.
export function storeFiles(machine, files) {
  return run('readwrite', store => {
    for (const [name, bytes] of Object.entries(files)) store.put(bytes, `${machine}/${name}`);
  });
}

// Forgets everything stored for machine.
export function clearMachine(machine) {
  return run('readwrite', store => store.delete(IDBKeyRange.bound(`${machine}/`, `${machine}/\uffff`)));
}
