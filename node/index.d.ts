/// <reference types="node" />
import type { Statement } from './lib/document';

export * from './lib/document';

/** SQL text: a string (sent as UTF-8) or the UTF-8 bytes themselves. */
export type SqlInput = string | Uint8Array;

export interface FormatOptions {
  /** Clauses on lines of their own instead of one line per statement. */
  pretty?: boolean;
}

/** One statement of a text, found by the scanner alone. Offsets are bytes of the UTF-8 text
 * (`end` one past the last); lines and columns are 1-based, columns counting bytes;
 * `endLine`/`endColumn` are those of the last byte. */
export interface SplitStatement {
  text: string;
  start: number;
  end: number;
  startLine: number;
  startColumn: number;
  endLine: number;
  endColumn: number;
}

export type TokenClass =
  | 'keyword' | 'identifier' | 'string' | 'number' | 'operator' | 'punctuation' | 'comment'
  | 'invalid';

/** One token, comments included, placed as a SplitStatement is. */
export interface Token {
  /** The scanner's kind, as error messages name it: "tkSelect", "tkIdent", "tkComment". */
  kind: string;
  tokenClass: TokenClass;
  text: string;
  start: number;
  end: number;
  line: number;
  column: number;
  /** A comment or string literal still open at the end of the text. */
  unterminated: boolean;
}

/** Every statement's document, in text order; `[]` for a text without statements. */
export function parse(sql: SqlInput): Statement[];
/** parse() with the library call on the libuv thread pool. */
export function parseAsync(sql: SqlInput): Promise<Statement[]>;
export function format(sql: SqlInput, options?: FormatOptions): string;
export function formatAsync(sql: SqlInput, options?: FormatOptions): Promise<string>;
/** Every constant of a SELECT, INSERT, UPDATE or DELETE replaced by $1, $2, ... */
export function normalize(sql: SqlInput): string;
/** One fingerprint per statement, as 16 lower-case hex digits. */
export function fingerprint(sql: SqlInput): string[];
export function split(sql: SqlInput): SplitStatement[];
export function tokens(sql: SqlInput): Token[];
/** The library's version, "0.1.0". */
export const version: string;

/** The library returned an error instead of a result. */
export class SqlParserError extends Error {
  /** 1-based line of a syntax error, else null. */
  readonly line: number | null;
  /** 1-based byte column of a syntax error, else null. */
  readonly column: number | null;
}
/** Invalid SQL ("Parse error at line L, col C: ..."). */
export class SqlSyntaxError extends SqlParserError {}
/** A numeric literal out of range or malformed, or a text the library cannot take (a NUL
 * byte, over 2 GiB). */
export class SqlValueError extends SqlParserError {}
/** A defect of the library, not of the SQL. */
export class SqlInternalError extends SqlParserError {}
