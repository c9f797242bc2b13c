'use strict';

// Decoding the document: lib/decode.js (what parse() uses) against msgpackr on the same bytes.
// Input: the golden SQL texts of the repository, concatenated to about 1 MiB. Prints MB/s of
// SQL text and of document bytes. (A third way, the addon making the values itself through
// Node-API, was measured too and dropped; README.md has its figures.)

const fs = require('node:fs');
const path = require('node:path');
const native = require('../build/Release/quorix_sql_parser.node');
const { decode } = require('../lib/decode');
const q = require('..');

const golden = path.join(__dirname, '..', '..', 'tests', 'golden');
const parts = fs.readdirSync(golden)
  .filter((f) => f.endsWith('.sql') && !f.startsWith('error_'))
  .map((f) => fs.readFileSync(path.join(golden, f), 'utf8').trim().replace(/;?$/, ';'));
let sql = '';
while (Buffer.byteLength(sql) < 1 << 20) sql += parts.join('\n') + '\n';
const textBytes = Buffer.byteLength(sql);
const doc = native.parse(sql);

function best(fn, seconds = 2) {
  for (let i = 0; i < 3; ++i) fn();
  const times = [];
  const until = Date.now() + seconds * 1000;
  while (Date.now() < until) {
    const t = process.hrtime.bigint();
    fn();
    times.push(Number(process.hrtime.bigint() - t) / 1e9);
  }
  times.sort((a, b) => a - b);
  return times[Math.floor(times.length / 2)];
}

const rows = [];
const report = (name, seconds) => rows.push({
  path: name,
  'median ms': (seconds * 1e3).toFixed(1),
  'SQL MB/s': (textBytes / seconds / 1e6).toFixed(1),
  'document MB/s': (doc.length / seconds / 1e6).toFixed(1),
});

report('library call only (document bytes)', best(() => native.parse(sql)));
report('lib/decode.js', best(() => decode(doc)));
report('parse() end to end', best(() => q.parse(sql)));
let Unpackr = null;
try { ({ Unpackr } = require('msgpackr')); } catch { /* not installed: production install */ }
if (Unpackr) {
  const u = new Unpackr({ useRecords: false, mapsAsObjects: true, int64AsType: 'auto' });
  report('msgpackr decode of the same bytes', best(() => u.unpack(doc)));
  report('library call + msgpackr', best(() => u.unpack(native.parse(sql))));
}
console.log(`SQL text ${textBytes} bytes, document ${doc.length} bytes, node ${process.version}`);
console.table(rows);
