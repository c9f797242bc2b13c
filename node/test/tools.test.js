'use strict';

const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const q = require('..');

const TESTS = path.join(__dirname, '..', '..', 'tests');
const haveTests = fs.existsSync(path.join(TESTS, 'golden_format'));

test('format matches the library\'s golden layouts', { skip: !haveTests && 'no tests/ beside the package' }, async () => {
  const dir = path.join(TESTS, 'golden_format');
  const inputs = fs.readdirSync(dir).filter((f) => /^[a-z_]+\.sql$/.test(f));
  assert.ok(inputs.length > 0);
  for (const f of inputs) {
    const sql = fs.readFileSync(path.join(dir, f), 'utf8');
    const base = f.slice(0, -4);
    const compact = fs.readFileSync(path.join(dir, `${base}.compact.sql`), 'utf8');
    const pretty = fs.readFileSync(path.join(dir, `${base}.pretty.sql`), 'utf8');
    assert.strictEqual(q.format(sql), compact, `${f} compact`);
    assert.strictEqual(q.format(sql, { pretty: true }), pretty, `${f} pretty`);
    assert.strictEqual(await q.formatAsync(Buffer.from(sql), { pretty: true }), pretty, `${f} async`);
  }
});

test('fingerprints match the library\'s golden list', { skip: !haveTests && 'no tests/ beside the package' }, () => {
  const lines = fs.readFileSync(path.join(TESTS, 'golden_tools', 'fingerprints.txt'), 'utf8')
    .split('\n').filter((l) => l && !l.startsWith('#'));
  assert.ok(lines.length > 10);
  const sql = lines.map((l) => l.slice(17)).join(';\n');
  assert.deepStrictEqual(q.fingerprint(sql), lines.map((l) => l.slice(0, 16)));
});

test('normalize replaces constants only', () => {
  assert.strictEqual(q.normalize("SELECT a FROM t WHERE b = 'x' AND c IN (1, 2)"),
    'SELECT a FROM t WHERE b = $1 AND c IN ($2, $3)');
  assert.strictEqual(q.normalize(''), '');
});

// Offsets are bytes of the UTF-8 text: with multi-byte characters in front they are not string
// indexes, and the text of each piece must still be exactly its bytes.
test('split and tokens place pieces by UTF-8 bytes', () => {
  const sql = "SELECT 'żółw' AS é; -- ünïcode\nINSERT INTO t VALUES ('🙂'); SELECT 'open";
  const bytes = Buffer.from(sql);
  for (const input of [sql, bytes]) {
    const stmts = q.split(input);
    assert.deepStrictEqual(stmts.map((s) => s.text),
      ["SELECT 'żółw' AS é", "INSERT INTO t VALUES ('🙂')", "SELECT 'open"]);
    for (const s of stmts) {
      assert.strictEqual(s.text, bytes.subarray(s.start, s.end).toString());
      const lines = bytes.subarray(0, s.end - 1).toString('latin1').split('\n');
      assert.strictEqual(s.endLine, lines.length);
      assert.strictEqual(s.endColumn, lines.at(-1).length + 1);
    }
    const toks = q.tokens(input);
    for (const t of toks) assert.strictEqual(t.text, bytes.subarray(t.start, t.end).toString());
    // Tokens and the blanks between them make up the whole text.
    let at = 0;
    for (const t of toks) {
      assert.match(bytes.subarray(at, t.start).toString(), /^\s*$/);
      at = t.end;
    }
    assert.strictEqual(at, bytes.length);
    const last = toks.at(-1);
    assert.deepStrictEqual([last.kind, last.tokenClass, last.unterminated], ['tkString', 'string', true]);
    assert.deepStrictEqual(toks.find((t) => t.tokenClass === 'comment').text, '-- ünïcode');
    assert.deepStrictEqual(toks.slice(0, 2).map((t) => [t.kind, t.tokenClass, t.line, t.column]),
      [['tkSelect', 'keyword', 1, 1], ['tkString', 'string', 1, 8]]);
  }
});

test('texts without statements', async () => {
  for (const sql of ['', ' -- only a comment\n', ';;', Buffer.alloc(0)]) {
    assert.deepStrictEqual(q.parse(sql), []);
    assert.deepStrictEqual(await q.parseAsync(sql), []);
    assert.deepStrictEqual(q.fingerprint(sql), []);
    assert.deepStrictEqual(q.split(sql), []);
  }
});

test('many async calls at once resolve each to its own result', async () => {
  const texts = Array.from({ length: 64 }, (_, i) => `SELECT c${i} FROM t${i}`);
  const docs = await Promise.all(texts.map((s) => q.parseAsync(s)));
  docs.forEach((d, i) => assert.deepStrictEqual(d, q.parse(texts[i])));
  const formatted = await Promise.all(texts.map((s) => q.formatAsync(s)));
  formatted.forEach((f, i) => assert.strictEqual(f, `SELECT c${i} FROM t${i};\n`));
});

test('the addon loads and parses in worker threads, alongside the main thread', async () => {
  const { Worker } = require('node:worker_threads');
  const code = `
    const { parentPort } = require('node:worker_threads');
    const q = require(${JSON.stringify(path.join(__dirname, '..'))});
    q.parseAsync('SELECT ' + '('.repeat(500) + '1' + ')'.repeat(500))
      .then((d) => parentPort.postMessage(q.fingerprint('SELECT a FROM t')[0] + ' ' + d.length));`;
  const runs = Array.from({ length: 2 }, () => new Promise((resolve, reject) => {
    const w = new Worker(code, { eval: true });
    w.once('message', resolve);
    w.once('error', reject);
  }));
  const want = `${q.fingerprint('SELECT a FROM t')[0]} 1`;
  assert.deepStrictEqual(await Promise.all(runs), [want, want]);
});
