'use strict';

// parse() from Node against node-sql-parser's astify on the statements of the C++ suite's
// corpora that node-sql-parser accepts, one call per statement and one call per text, plus what
// a call costs for crossing into the addon.
//
// Usage: node bench/parse.js --corpora DIR [--out FILE] [--c-results latest.json] [--rounds N]
//
//   --corpora    the directory `corpus_check --dump DIR` wrote (DIR/<workload>.json)
//   --out        where the JSON goes (default: bench/results/node.json of the repository)
//   --c-results  the C++ suite's Google Benchmark JSON of the same run, for the library's own
//                round trip of the 49-byte statement; without it no crossing overhead is given
//   --rounds     interleaved rounds per measurement (default 5, or QUORIX_NODE_BENCH_ROUNDS)
//
// Rates use wall-clock time (process.hrtime), since V8's collector runs on helper threads and
// process CPU time would charge them too; MB = 10^6 bytes of SQL. Every figure is the median
// of the rounds; the two parsers alternate within a round, and which of them goes first swaps
// each round, so that a neighbour's load falls on both alike. Any parser error in a measured
// call stops the run with a non-zero status.

const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const WORKLOADS = ['small', 'oltp', 'analytic', 'bulk', 'ddl', 'vector', 'mixed'];
const DATABASES = ['postgresql', 'mysql'];
// Must stay equal to kRoundTripStatement in bench/corpus.h, the C figure it is set against.
const ROUND_TRIP = 'SELECT name, email FROM customers WHERE id = 4821';
// Short passes are repeated until one sample lasts this long, so that timer resolution and
// one-off pauses stay small against it.
const MIN_SAMPLE_SECONDS = 0.2;

function usage(message) {
  console.error(`parse.js: ${message}`);
  console.error('usage: node bench/parse.js --corpora DIR [--out FILE] [--c-results FILE] ' +
    '[--rounds N]');
  process.exit(2);
}

function options(argv) {
  const o = {
    corpora: null,
    out: path.join(__dirname, '..', '..', 'bench', 'results', 'node.json'),
    cResults: null,
    rounds: Number(process.env.QUORIX_NODE_BENCH_ROUNDS || 5),
  };
  for (let i = 0; i < argv.length; i += 2) {
    const value = argv[i + 1];
    if (value === undefined) usage(`${argv[i]} needs a value`);
    if (argv[i] === '--corpora') o.corpora = value;
    else if (argv[i] === '--out') o.out = value;
    else if (argv[i] === '--c-results') o.cResults = value;
    else if (argv[i] === '--rounds') o.rounds = Number(value);
    else usage(`unknown argument ${argv[i]}`);
  }
  if (!o.corpora) usage('--corpora is required');
  if (!Number.isInteger(o.rounds) || o.rounds < 1) usage('--rounds must be a positive integer');
  return o;
}

function median(xs) {
  const s = [...xs].sort((a, b) => a - b);
  const m = s.length >> 1;
  return s.length % 2 ? s[m] : (s[m - 1] + s[m]) / 2;
}

// (max - min) / median of the rounds: how far apart the rounds were.
function spread(xs) {
  return xs.length < 2 ? 0 : (Math.max(...xs) - Math.min(...xs)) / median(xs);
}

function seconds(fn) {
  const t = process.hrtime.bigint();
  fn();
  return Number(process.hrtime.bigint() - t) / 1e9;
}

// How many passes one sample needs to last MIN_SAMPLE_SECONDS, from a first, warming pass.
function passesFor(fn) {
  const once = seconds(fn);
  return Math.max(1, Math.ceil(MIN_SAMPLE_SECONDS / Math.max(once, 1e-9)));
}

// One sample: passes of fn, in seconds per pass.
function sample(fn, passes) {
  return seconds(() => {
    for (let i = 0; i < passes; ++i) fn();
  }) / passes;
}

// Runs the named contenders round by round, alternating them and swapping the order every
// round; returns each one's seconds per pass, one per round.
function interleaved(contenders, rounds) {
  const names = Object.keys(contenders);
  const passes = Object.fromEntries(names.map((n) => [n, passesFor(contenders[n])]));
  const times = Object.fromEntries(names.map((n) => [n, []]));
  for (let r = 0; r < rounds; ++r) {
    const order = r % 2 ? [...names].reverse() : names;
    for (const n of order) times[n].push(sample(contenders[n], passes[n]));
  }
  return times;
}

function loadCRoundTrip(file) {
  if (!file) return null;
  let data;
  try {
    data = JSON.parse(fs.readFileSync(file, 'utf8'));
  } catch (e) {
    console.error(`parse.js: cannot read ${file}: ${e.message}; no crossing overhead given`);
    return null;
  }
  const name = 'quorix/roundtrip/small50';
  const runs = data.benchmarks.filter((b) => (b.run_name || b.name) === name && !b.error_occurred);
  const med = runs.find((b) => b.run_type === 'aggregate' && b.aggregate_name === 'median');
  const one = med || runs.find((b) => b.run_type !== 'aggregate');
  return one && typeof one.ns_per_stmt === 'number' ? one.ns_per_stmt : null;
}

function main() {
  const o = options(process.argv.slice(2));
  const q = require('..');
  const native = require('../build/Release/quorix_sql_parser.node');
  let Parser;
  try {
    ({ Parser } = require('node-sql-parser'));
  } catch {
    console.error('parse.js: node-sql-parser is not installed; run `npm ci` in node/ first');
    process.exit(1);
  }
  const peer = new Parser();

  const started = Date.now();
  const result = {
    date: new Date().toISOString(),
    node: process.version,
    v8: process.versions.v8,
    quorix_version: q.version,
    peer: `node-sql-parser ${require('node-sql-parser/package.json').version}`,
    cpus: os.cpus().length,
    load_avg: os.loadavg(),
    rounds: o.rounds,
    timing: 'wall clock, median of interleaved rounds; MB = 10^6 bytes of SQL text',
    workloads: {},
    crossing: null,
  };

  for (const w of WORKLOADS) {
    const file = path.join(o.corpora, `${w}.json`);
    const all = JSON.parse(fs.readFileSync(file, 'utf8'));
    if (!Array.isArray(all) || all.length === 0) throw new Error(`${file}: no statements`);
    const allBytes = all.reduce((n, s) => n + Buffer.byteLength(s) + 2, 0);

    // The database option that accepts more of this workload's statements; PostgreSQL on a tie,
    // being the closer dialect.
    const accepted = {};
    for (const db of DATABASES) {
      accepted[db] = all.filter((s) => {
        try {
          peer.astify(s, { database: db });
          return true;
        } catch {
          return false;
        }
      });
    }
    const database = DATABASES.reduce((a, b) => (accepted[b].length > accepted[a].length ? b : a));
    const subset = accepted[database];
    const entry = {
      statements: all.length,
      bytes: allBytes,
      database,
      accepted_by_database: Object.fromEntries(DATABASES.map((db) => [db, accepted[db].length])),
      accepted: subset.length,
      accepted_share: subset.length / all.length,
      accepted_bytes: 0,
      stmt: null,
      text: null,
      text_skipped: null,
    };
    result.workloads[w] = entry;
    if (subset.length === 0) {
      entry.text_skipped = 'node-sql-parser accepts none of the statements';
      console.error(`  ${w}: node-sql-parser accepts none of ${all.length} statements, skipped`);
      continue;
    }

    const text = subset.join(';\n') + ';\n';
    const bytes = Buffer.byteLength(text);
    entry.accepted_bytes = bytes;
    const opt = { database };

    const stmt = interleaved({
      quorix: () => {
        for (const s of subset) {
          if (q.parse(s).length !== 1) {
            throw new Error(`${w}: quorix gave no single statement: ${s}`);
          }
        }
      },
      peer: () => {
        for (const s of subset) peer.astify(s, opt);
      },
    }, o.rounds);
    entry.stmt = figures(stmt, bytes, subset.length);

    // The peer may take a statement alone and still not the text it is part of; quorix must.
    const whole = q.parse(text);
    if (whole.length !== subset.length) {
      throw new Error(`${w}: quorix read ${whole.length} statements in a text of ${subset.length}`);
    }
    let peerWhole;
    try {
      peerWhole = peer.astify(text, opt);
    } catch (e) {
      entry.text_skipped = `node-sql-parser rejects the joined text: ${e.message.slice(0, 200)}`;
    }
    if (peerWhole !== undefined) {
      const n = Array.isArray(peerWhole) ? peerWhole.length : 1;
      if (n !== subset.length) {
        entry.text_skipped = `node-sql-parser read ${n} statements in a text of ${subset.length}`;
      } else {
        const txt = interleaved({
          quorix: () => q.parse(text),
          peer: () => peer.astify(text, opt),
        }, o.rounds);
        entry.text = figures(txt, bytes, subset.length);
      }
    }
    if (entry.text_skipped) {
      console.error(`  ${w}: one call per text skipped: ${entry.text_skipped}`);
    }
    console.error(`  ${w}: done (${((Date.now() - started) / 1e3).toFixed(0)} s)`);
  }

  result.crossing = crossing(q, native, peer, o);
  result.seconds = (Date.now() - started) / 1e3;
  fs.mkdirSync(path.dirname(o.out), { recursive: true });
  fs.writeFileSync(o.out, JSON.stringify(result, null, 2) + '\n');
  printTable(result);
  console.log(`wrote ${o.out} in ${result.seconds.toFixed(0)} s`);
}

function figures(times, bytes, statements) {
  const mbps = (xs) => xs.map((t) => bytes / t / 1e6);
  const q = mbps(times.quorix);
  const p = mbps(times.peer);
  const ratios = times.quorix.map((t, i) => times.peer[i] / t);
  return {
    quorix_mbps: median(q),
    peer_mbps: median(p),
    ratio: median(ratios),
    quorix_ns_per_stmt: median(times.quorix) / statements * 1e9,
    peer_ns_per_stmt: median(times.peer) / statements * 1e9,
    quorix_spread: spread(q),
    peer_spread: spread(p),
    ratio_spread: spread(ratios),
    quorix_mbps_rounds: q,
    peer_mbps_rounds: p,
  };
}

// One short statement per call. parse() is the whole trip (crossing, library, copying the
// document into a Buffer, decoding it into objects); the addon's own export stops at the
// Buffer, so its difference from the C round trip is what crossing into the addon costs.
function crossing(q, native, peer, o) {
  const calls = 20000;
  const batch = (fn) => () => {
    for (let i = 0; i < calls; ++i) fn();
  };
  if (q.parse(ROUND_TRIP).length !== 1) throw new Error('quorix: the round-trip statement');
  const times = interleaved({
    parse: batch(() => q.parse(ROUND_TRIP)),
    native: batch(() => native.parse(ROUND_TRIP)),
    select1: batch(() => q.parse('SELECT 1')),
    peer: batch(() => peer.astify(ROUND_TRIP, { database: 'postgresql' })),
  }, o.rounds);
  const ns = (xs) => median(xs) / calls * 1e9;
  const c = loadCRoundTrip(o.cResults);
  const out = {
    statement: ROUND_TRIP,
    node_parse_ns: ns(times.parse),
    node_native_ns: ns(times.native),
    node_select1_ns: ns(times.select1),
    peer_astify_ns: ns(times.peer),
    parse_spread: spread(times.parse),
    native_spread: spread(times.native),
    c_roundtrip_ns: c,
    crossing_ns: null,
    decode_ns: null,
  };
  out.decode_ns = out.node_parse_ns - out.node_native_ns;
  if (c !== null) out.crossing_ns = out.node_native_ns - c;
  return out;
}

function printTable(r) {
  const f = (v, d = 1) => (v === null || v === undefined ? '–' : v.toFixed(d));
  const ratio = (m) => (m ? `${f(m.ratio)}× (spread ${f(100 * m.ratio_spread)}%)` : '–');
  const rows = {};
  for (const [w, e] of Object.entries(r.workloads)) {
    rows[w] = {
      database: e.database,
      accepted: `${e.accepted}/${e.statements} (${(100 * e.accepted_share).toFixed(0)}%)`,
      'quorix MB/s stmt': f(e.stmt && e.stmt.quorix_mbps),
      'peer MB/s stmt': f(e.stmt && e.stmt.peer_mbps, 2),
      'ratio stmt': ratio(e.stmt),
      'quorix MB/s text': f(e.text && e.text.quorix_mbps),
      'peer MB/s text': f(e.text && e.text.peer_mbps, 2),
      'ratio text': ratio(e.text),
    };
  }
  console.log(`parse() from Node ${r.node} vs ${r.peer}; ${r.timing}; ${r.rounds} rounds; ` +
    'spread = (max - min) / median of the per-round ratios');
  console.table(rows);
  const c = r.crossing;
  console.log(`49-byte statement, per call: parse() ${f(c.node_parse_ns, 0)} ns, addon call ` +
    `without decoding ${f(c.node_native_ns, 0)} ns, C round trip ${f(c.c_roundtrip_ns, 0)} ns, ` +
    `crossing ${f(c.crossing_ns, 0)} ns, decoding ${f(c.decode_ns, 0)} ns; ` +
    `parse('SELECT 1') ${f(c.node_select1_ns, 0)} ns; ` +
    `node-sql-parser ${f(c.peer_astify_ns, 0)} ns`);
}

main();
