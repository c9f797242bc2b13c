'use strict';

const test = require('node:test');
const assert = require('node:assert');
const q = require('..');

// [input, class, line, column, message pattern]
const CASES = [
  ['DROP VIEW v', q.SqlSyntaxError, 1, 6, /^Parse error at line 1, col 6: expected TABLE or INDEX/],
  ['SELECT 1;\n  SELECT FROM', q.SqlSyntaxError, 2, 10, /^Parse error at line 2, col 10: /],
  ["SELECT 'open", q.SqlSyntaxError, 1, 8, /unterminated string literal$/],
  ['SELECT 1 /* open', q.SqlSyntaxError, 1, 10, /unterminated block comment$/],
  // A literal that cannot be converted is found in the text; a vector element never is one.
  ['SELECT 99999999999999999999999', q.SqlValueError, 1, 8, /^Parsed integer outside of valid range$/],
  ['SELECT [99999999999999999999],\n  1, 0099999999999999999999', q.SqlValueError, 2, 6, /^Parsed integer outside/],
  ['SELECT 1\0', q.SqlValueError, null, null, /^the SQL text holds a NUL byte at offset 8$/],
  [Buffer.from('SELECT\0 1'), q.SqlValueError, null, null, /NUL byte at offset 6$/],
  [`SELECT ${'('.repeat(501)}1${')'.repeat(501)}`, q.SqlSyntaxError, 1, null, /nesting too deep/],
];

test('errors map to their classes, with positions', async (t) => {
  for (const [sql, Class, line, column, message] of CASES) {
    const label = String(sql).slice(0, 40);
    await t.test(label, async () => {
      const expect = (e) => {
        assert.ok(e instanceof Class, `${e && e.name}: ${e && e.message}`);
        assert.ok(e instanceof q.SqlParserError && e instanceof Error);
        assert.strictEqual(e.name, Class.name);
        assert.match(e.message, message);
        assert.strictEqual(e.line, line);
        if (column !== null) assert.strictEqual(e.column, column);
        return true;
      };
      assert.throws(() => q.parse(sql), expect);
      await assert.rejects(q.parseAsync(sql), expect);
      // The tools that need valid SQL fail with exactly parse()'s message.
      for (const tool of [q.format, q.normalize, q.fingerprint]) assert.throws(() => tool(sql), expect);
      await assert.rejects(q.formatAsync(sql, { pretty: true }), expect);
    });
  }
});

test('arguments that are not SQL text are TypeErrors, also from the async calls', async () => {
  for (const bad of [undefined, null, 42, {}, [1], new Uint16Array(2)]) {
    for (const fn of [q.parse, q.format, q.normalize, q.fingerprint, q.split, q.tokens]) {
      assert.throws(() => fn(bad), TypeError);
    }
    await assert.rejects(q.parseAsync(bad), TypeError);
    await assert.rejects(q.formatAsync(bad), TypeError);
  }
});
