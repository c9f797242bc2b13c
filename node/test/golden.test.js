'use strict';

// Every golden document of the library's own suite, read through the addon, must be exactly the
// JSON the repository holds (keys in order included), fit the shape table the declarations are
// generated from, and come out the same from a Buffer and from parseAsync.

const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const q = require('..');
const { check } = require('../lib/shapes');
const { render, target } = require('../scripts/gen-types');

const GOLDEN = path.join(__dirname, '..', '..', 'tests', 'golden');
const haveGolden = fs.existsSync(GOLDEN);
const names = haveGolden
  ? fs.readdirSync(GOLDEN).filter((f) => f.endsWith('.sql')).map((f) => f.slice(0, -4)).sort()
  : [];

// What the C++ golden test records: the document, or {"error": message}.
function outcome(run) {
  try {
    return run();
  } catch (e) {
    if (!(e instanceof q.SqlParserError)) throw e;
    return { error: e.message };
  }
}

async function outcomeAsync(run) {
  try {
    return await run();
  } catch (e) {
    if (!(e instanceof q.SqlParserError)) throw e;
    return { error: e.message };
  }
}

test('golden documents', { skip: !haveGolden && 'no tests/golden beside the package' }, async (t) => {
  assert.ok(names.length > 40, `only ${names.length} golden texts found`);
  for (const name of names) {
    await t.test(name, async () => {
      const bytes = fs.readFileSync(path.join(GOLDEN, `${name}.sql`));
      const want = JSON.stringify(JSON.parse(fs.readFileSync(path.join(GOLDEN, `${name}.json`), 'utf8')));
      const got = outcome(() => q.parse(bytes.toString('utf8')));
      assert.strictEqual(JSON.stringify(got), want);
      assert.strictEqual(JSON.stringify(outcome(() => q.parse(bytes))), want);
      assert.strictEqual(JSON.stringify(await outcomeAsync(() => q.parseAsync(bytes))), want);
      if (Array.isArray(got)) assert.strictEqual(check(got), null);
    });
  }
});

test('the shape table rejects what the document never holds', () => {
  const [doc] = q.parse("SELECT a FROM t WHERE b = 'x'");
  const cases = [
    [(d) => { d.kind.variant = 'Selects'; }, /no StatementKind has variant "Selects"/],
    [(d) => { delete d.kind.limit; }, /variant "Select" with keys variant, distinct, .*, offset$/],
    [(d) => { d.kind.selection.kind.op = 'Like'; }, /selection\.kind\.op: expected/],
    [(d) => { d.span.start.line = -1; }, /span\.start\.line: expected uint/],
    [(d) => { d.kind.group_by = []; d.kind.group_by.push(null); }, /group_by\[0\]: expected Expr/],
    [(d) => { const { distinct, ...rest } = d.kind; d.kind = { ...rest, distinct }; }, /variant "Select" with keys variant, projection/],
  ];
  for (const [spoil, why] of cases) {
    const copy = structuredClone(doc);
    spoil(copy);
    assert.match(check([copy]) ?? 'accepted', why);
  }
});

test('lib/document.d.ts is what the shape table generates', () => {
  assert.strictEqual(fs.readFileSync(target, 'utf8'), render());
});
