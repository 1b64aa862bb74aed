// The settings text for the emulator's settings reader, parsed by the ini
// library line by line, so that every value comes in file order with its
// section, repeated keys included (the reader keeps the first).
export function parseIni(ini, text) {
  const entries = [];
  let section = '';
  for (const line of text.split(/\r?\n/)) {
    for (const [name, value] of Object.entries(ini.parse(line))) {
      if (value !== null && typeof value === 'object' && !Array.isArray(value)) {
        // A section header; a dotted name comes back nested.
        let path = name, inner = value;
        for (let keys = Object.keys(inner); keys.length === 1 && typeof inner[keys[0]] === 'object'; keys = Object.keys(inner)) {
          path += `.${keys[0]}`;
          inner = inner[keys[0]];
        }
        section = path;
      } else {
        entries.push([section, name, String(value)]);
      }
    }
  }
  return entries;
}
