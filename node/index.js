'use strict';

// SQL text in, plain JavaScript documents out. The addon compiles the library's own sources;
// this file gives its results the package's error classes.

const native = require('./build/Release/quorix_sql_parser.node');
const { decode, DocumentError } = require('./lib/decode');

const POSITION = /^Parse error at line (\d+), col (\d+): /;
const INTERNAL_PREFIX = 'internal parser defect (this is a parser bug, not invalid SQL): ';
const VALUE_MESSAGES = ['Parsed integer outside of valid range', 'invalid integer: ', 'invalid float: '];

class SqlParserError extends Error {
  constructor(message, line = null, column = null) {
    super(message);
    this.name = new.target.name;
    this.line = line;
    this.column = column;
  }
}

class SqlSyntaxError extends SqlParserError {}
class SqlValueError extends SqlParserError {}
class SqlInternalError extends SqlParserError {}

// A literal that cannot be converted has no position in its message; the library finds it with
// its scanner, as it does for the command line and the Python package.
function literalPosition(sql, message) {
  try {
    return native.errorPosition(sql, message) || [null, null];
  } catch {
    return [null, null];
  }
}

function errorFor(message, sql) {
  if (message.startsWith(INTERNAL_PREFIX)) return new SqlInternalError(message);
  if (VALUE_MESSAGES.some((prefix) => message.startsWith(prefix))) {
    return new SqlValueError(message, ...literalPosition(sql, message));
  }
  const m = POSITION.exec(message);
  if (m) return new SqlSyntaxError(message, Number(m[1]), Number(m[2]));
  // The library's remaining messages are parse errors without a position.
  return new SqlSyntaxError(message);
}

// The addon marks what it throws; anything else (a TypeError for a wrong argument) passes.
function translate(e, sql) {
  if (e && e.code === 'QUORIX_LIBRARY') return errorFor(e.message, sql);
  if (e && e.code === 'QUORIX_VALUE') return new SqlValueError(e.message);
  return e;
}

function wrap(fn) {
  return function (...args) {
    try {
      return fn(...args);
    } catch (e) {
      throw translate(e, args[0]);
    }
  };
}

function pretty(options) {
  return Boolean(options && options.pretty);
}

function documentOf(bytes) {
  try {
    return decode(bytes);
  } catch (e) {
    if (!(e instanceof DocumentError)) throw e;
    throw new SqlInternalError(`${INTERNAL_PREFIX}the library's document cannot be decoded: ${e.message}`);
  }
}

const parse = wrap((sql) => documentOf(native.parse(sql)));
const format = wrap((sql, options) => native.format(sql, pretty(options)));
const normalize = wrap((sql) => native.normalize(sql));
const fingerprint = wrap((sql) => native.fingerprint(sql));
const split = wrap((sql) => native.split(sql));
const tokens = wrap((sql) => native.tokens(sql));

function parseAsync(sql) {
  try {
    return native.parseAsync(sql).then(documentOf, (e) => { throw translate(e, sql); });
  } catch (e) {
    return Promise.reject(translate(e, sql));
  }
}

function formatAsync(sql, options) {
  try {
    return native.formatAsync(sql, pretty(options)).catch((e) => { throw translate(e, sql); });
  } catch (e) {
    return Promise.reject(translate(e, sql));
  }
}

module.exports = {
  parse,
  parseAsync,
  format,
  formatAsync,
  normalize,
  fingerprint,
  split,
  tokens,
  version: native.version,
  SqlParserError,
  SqlSyntaxError,
  SqlValueError,
  SqlInternalError,
};
