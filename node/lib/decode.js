'use strict';

// The document's MessagePack, decoded in JavaScript. Iterative: a document nests as deep as its
// SQL (two levels per term of an OR chain), so containers wait on an explicit stack, never on
// the call stack. A map is built once its entries are read, by a function made for its exact key
// sequence, so that V8 creates every map of one kind with one shape in one step.

const utf8 = new TextDecoder('utf-8'); // not fatal: what is not UTF-8 becomes U+FFFD
const EXACT = 2n ** 53n;

class DocumentError extends Error {}

let codeFromStrings = true;

// A trie of key sequences; each node knows the keys that lead to it and, once asked, the
// function that builds a map of exactly those keys from values[base..].
class Shape {
  constructor(keys) {
    this.keys = keys;
    this.next = new Map();
    this.build = null;
  }

  child(key) {
    let s = this.next.get(key);
    if (s === undefined) {
      s = new Shape(this.keys.concat([key]));
      this.next.set(key, s);
    }
    return s;
  }

  builder() {
    if (this.build === null) {
      // An object literal would give "__proto__" its special meaning; such keys, or repeated
      // ones, take the slow road.
      const plain = !this.keys.includes('__proto__') && new Set(this.keys).size === this.keys.length;
      if (plain && codeFromStrings) {
        const fields = this.keys.map((k, i) => `${JSON.stringify(k)}: v[b + ${i}]`).join(', ');
        try {
          // eslint-disable-next-line no-new-func
          this.build = new Function('v', 'b', `return {${fields}};`);
        } catch {
          codeFromStrings = false; // --disallow-code-generation-from-strings
        }
      }
      if (this.build === null) {
        const keys = this.keys;
        this.build = (v, b) => {
          const o = {};
          for (let i = 0; i < keys.length; ++i) {
            Object.defineProperty(o, keys[i], { value: v[b + i], enumerable: true, writable: true, configurable: true });
          }
          return o;
        };
      }
    }
    return this.build;
  }
}

const root = new Shape([]);

// Short ASCII strings (keys, variant names, column names) recur; a small table keyed by length
// and a few bytes saves making them again.
const SLOTS = 4096;
const cache = new Array(SLOTS).fill(null);

function decode(buf) {
  const bytes = buf;
  const view = new DataView(buf.buffer, buf.byteOffset, buf.byteLength);
  const end = bytes.length;
  let p = 0;

  // The stack of open containers, as parallel arrays.
  const isMap = [];
  const remaining = [];
  const base = [];
  const shape = [];
  const keyNext = [];
  let sp = -1;
  const values = [];
  let result;

  const need = (n) => {
    if (end - p < n) throw new DocumentError('the document ends inside a value');
  };

  const string = (n) => {
    need(n);
    const start = p;
    p += n;
    if (n <= 16) {
      let ascii = true;
      let h = n;
      for (let i = start; i < p; ++i) {
        const c = bytes[i];
        if (c >= 0x80) { ascii = false; break; }
        h = (h * 31 + c) | 0;
      }
      if (ascii) {
        const slot = h & (SLOTS - 1);
        const hit = cache[slot];
        if (hit !== null && hit.length === n) {
          let same = true;
          for (let i = 0; i < n; ++i) {
            if (hit.charCodeAt(i) !== bytes[start + i]) { same = false; break; }
          }
          if (same) return hit;
        }
        let s = '';
        for (let i = start; i < p; ++i) s += String.fromCharCode(bytes[i]);
        cache[slot] = s;
        return s;
      }
    }
    return utf8.decode(bytes.subarray(start, p));
  };

  const uint64 = () => {
    need(8);
    const v = view.getBigUint64(p);
    p += 8;
    return v <= EXACT ? Number(v) : v;
  };

  const int64 = () => {
    need(8);
    const v = view.getBigInt64(p);
    p += 8;
    return v <= EXACT && v >= -EXACT ? Number(v) : v;
  };

  do {
    if (sp >= 0 && keyNext[sp]) {
      need(1);
      const b = bytes[p++];
      let n;
      if ((b & 0xe0) === 0xa0) n = b & 0x1f;
      else if (b === 0xd9) { need(1); n = bytes[p++]; }
      else if (b === 0xda) { need(2); n = view.getUint16(p); p += 2; }
      else if (b === 0xdb) { need(4); n = view.getUint32(p); p += 4; }
      else throw new DocumentError('a map key that is not a string');
      shape[sp] = shape[sp].child(string(n));
      keyNext[sp] = false;
      continue;
    }
    need(1);
    const b = bytes[p++];
    let v;
    let count = -1;
    let map = false;
    if (b <= 0x7f) v = b;
    else if (b >= 0xe0) v = b - 0x100;
    else if ((b & 0xe0) === 0xa0) v = string(b & 0x1f);
    else if ((b & 0xf0) === 0x90) count = b & 0x0f;
    else if ((b & 0xf0) === 0x80) { count = b & 0x0f; map = true; }
    else {
      switch (b) {
        case 0xc0: v = null; break;
        case 0xc2: v = false; break;
        case 0xc3: v = true; break;
        case 0xcc: need(1); v = bytes[p]; p += 1; break;
        case 0xcd: need(2); v = view.getUint16(p); p += 2; break;
        case 0xce: need(4); v = view.getUint32(p); p += 4; break;
        case 0xcf: v = uint64(); break;
        case 0xd0: need(1); v = view.getInt8(p); p += 1; break;
        case 0xd1: need(2); v = view.getInt16(p); p += 2; break;
        case 0xd2: need(4); v = view.getInt32(p); p += 4; break;
        case 0xd3: v = int64(); break;
        case 0xca: need(4); v = view.getFloat32(p); p += 4; break;
        case 0xcb: need(8); v = view.getFloat64(p); p += 8; break;
        case 0xd9: need(1); v = string(bytes[p++]); break;
        case 0xda: { need(2); const n = view.getUint16(p); p += 2; v = string(n); break; }
        case 0xdb: { need(4); const n = view.getUint32(p); p += 4; v = string(n); break; }
        case 0xdc: need(2); count = view.getUint16(p); p += 2; break;
        case 0xdd: need(4); count = view.getUint32(p); p += 4; break;
        case 0xde: need(2); count = view.getUint16(p); p += 2; map = true; break;
        case 0xdf: need(4); count = view.getUint32(p); p += 4; map = true; break;
        default: throw new DocumentError(`a MessagePack form the document never uses (byte ${b})`);
      }
    }
    if (count > 0) {
      // Every entry takes at least one byte (a map's two): a larger count is a corrupt header.
      if (count > (end - p) / (map ? 2 : 1)) throw new DocumentError('the document ends inside a value');
      ++sp;
      isMap[sp] = map;
      remaining[sp] = count;
      base[sp] = values.length;
      shape[sp] = root;
      keyNext[sp] = map;
      continue;
    }
    if (count === 0) v = map ? {} : [];
    // Place the value, and every container it completes, in the one that holds it.
    for (;;) {
      if (sp < 0) { result = v; break; }
      values.push(v);
      if (isMap[sp]) keyNext[sp] = true;
      if (--remaining[sp] !== 0) break;
      const b0 = base[sp];
      v = isMap[sp] ? shape[sp].builder()(values, b0) : values.slice(b0);
      values.length = b0;
      --sp;
    }
  } while (sp >= 0);
  if (p !== end) throw new DocumentError('trailing bytes after the document');
  return result;
}

module.exports = { decode, DocumentError };
