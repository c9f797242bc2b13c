'use strict';

const test = require('node:test');
const assert = require('node:assert');
const q = require('..');
const { decode } = require('../lib/decode');
const { check } = require('../lib/shapes');

// Counts the levels of a value without recursion, as a document may be millions deep.
function depth(value) {
  let deepest = 0;
  const work = [[value, 1]];
  while (work.length > 0) {
    const [v, d] = work.pop();
    if (v === null || typeof v !== 'object') continue;
    if (d > deepest) deepest = d;
    for (const child of Object.values(v)) work.push([child, d + 1]);
  }
  return deepest;
}

test('a chain of a million terms decodes, 2n + 6 levels deep', async () => {
  const chain = (n) => 'SELECT ' + Array.from({ length: n }, (_, i) => `c${i % 10}`).join(' OR ');
  const n = 1_000_000;
  const doc = q.parse(chain(n));
  assert.strictEqual(depth(doc), 2 * n + 6);
  // The leftmost leaf is the first term.
  let e = doc[0].kind.projection[0].expr;
  while (e.kind.variant === 'BinaryOp') e = e.kind.left;
  assert.deepStrictEqual(e.kind, { variant: 'ColumnRef', table: null, column: 'c0' });
  const again = await q.parseAsync(Buffer.from(chain(100_000)));
  assert.strictEqual(depth(again), 2 * 100_000 + 6);
  assert.strictEqual(check(again), null);
  assert.strictEqual(again[0].kind.projection[0].expr.kind.right.kind.column, 'c9');
});

// The scanner makes a one-byte name of every byte no token starts with; such a byte is not
// UTF-8 on its own and arrives as U+FFFD, one per byte, as TextDecoder would give it.
test('names that are not UTF-8 become U+FFFD', () => {
  const sql = Buffer.concat([Buffer.from('SELECT a FROM t WHERE b = '), Buffer.from([0xff])]);
  const right = q.parse(sql)[0].kind.selection.kind.right.kind;
  assert.deepStrictEqual(right, { variant: 'ColumnRef', table: null, column: '\ufffd' });
  assert.strictEqual(right.column, new TextDecoder().decode(Buffer.from([0xff])));
  const tok = q.tokens(sql).at(-1);
  assert.deepStrictEqual([tok.tokenClass, tok.text], ['invalid', '\ufffd']);
  // Inside a string literal any bytes pass; every way out of the addon decodes them alike.
  const bad = [[0xff], [0xe2, 0x82], [0xed, 0xa0, 0x80], [0xf4, 0x90, 0x80, 0x80], [0xc0, 0xaf],
    [0xe2, 0x82, 0x41], [0xf0, 0x9f, 0x99]];
  for (const seq of bad) {
    const inner = Buffer.from([0x78, ...seq, 0x79]);
    const literal = Buffer.concat([Buffer.from("SELECT '"), inner, Buffer.from("'")]);
    const want = new TextDecoder().decode(inner);
    assert.strictEqual(q.parse(literal)[0].kind.projection[0].expr.kind.literal.value, want, inner.toString('hex'));
    assert.strictEqual(q.tokens(literal)[1].text, `'${want}'`, inner.toString('hex'));
    assert.strictEqual(q.split(literal)[0].text, `SELECT '${want}'`);
  }
  // A string with a lone surrogate goes in as U+FFFD's bytes.
  assert.strictEqual(q.parse("SELECT '\ud800'")[0].kind.projection[0].expr.kind.literal.value, '\ufffd');
});

// MessagePack bytes of forms the library never writes, straight into the decoder.
test('the decoder: integer widths, BigInt past 2^53, and corrupt input', () => {
  const u64 = (v) => { const b = Buffer.alloc(9); b[0] = 0xcf; b.writeBigUInt64BE(v, 1); return b; };
  const i64 = (v) => { const b = Buffer.alloc(9); b[0] = 0xd3; b.writeBigInt64BE(v, 1); return b; };
  const decodes = [
    [[0x7f], 127],
    [[0xe0], -32],
    [[0xcc, 0xff], 255],
    [[0xcd, 0xff, 0xff], 65535],
    [[0xce, 0xff, 0xff, 0xff, 0xff], 4294967295],
    [[0xd0, 0x80], -128],
    [[0xd1, 0x80, 0x00], -32768],
    [[0xd2, 0x80, 0, 0, 0], -2147483648],
    [u64(2n ** 53n), 2 ** 53],
    [u64(2n ** 53n + 1n), 2n ** 53n + 1n],
    [u64(2n ** 64n - 1n), 2n ** 64n - 1n],
    [i64(-(2n ** 53n)), -(2 ** 53)],
    [i64(-(2n ** 53n) - 1n), -(2n ** 53n) - 1n],
    [i64(-(2n ** 63n)), -(2n ** 63n)],
    [[0xca, 0x3f, 0xc0, 0, 0], 1.5],
    [[0xcb, 0x7f, 0xf8, 0, 0, 0, 0, 0, 0], NaN],
    [[0xc0], null],
    [[0x92, 0xc2, 0xc3], [false, true]],
    [[0x82, 0xa1, 0x62, 0x01, 0xa1, 0x61, 0x02], { b: 1, a: 2 }],
    [[0xdc, 0, 1, 0xd9, 3, 0x61, 0x62, 0x63], ['abc']],
    [[0xa2, 0xc3, 0x28], '\ufffd('],
  ];
  for (const [bytes, want] of decodes) {
    assert.deepStrictEqual(decode(Buffer.from(bytes)), want, Buffer.from(bytes).toString('hex'));
  }
  const corrupt = [
    [[], /ends inside a value/],
    [[0x92, 0x01], /ends inside a value/],
    [[0xdd, 0xff, 0xff, 0xff, 0xff], /ends inside a value/],
    [[0xa5, 0x61], /ends inside a value/],
    [[0x81, 0x01, 0x02], /map key that is not a string/],
    [[0xc4, 0x00], /never uses/],
    [[0x01, 0x02], /trailing bytes/],
  ];
  for (const [bytes, why] of corrupt) assert.throws(() => decode(Buffer.from(bytes)), why);
});
