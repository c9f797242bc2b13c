'use strict';

// Every map of the document, keys in the order the encoder writes them. This one table feeds
// lib/document.d.ts (scripts/gen-types.js writes it) and check(), which the tests run over the
// golden documents, so the declarations cannot drift from what parse() returns.

const bool = { t: 'bool' };
const string = { t: 'string' };
const uint = { t: 'uint' };
const number = { t: 'number' };
const oneOf = (...values) => ({ t: 'enum', values });
const ref = (name) => ({ t: 'ref', name });
const arrayOf = (item) => ({ t: 'array', item });
const orNull = (of) => ({ t: 'nullable', of });

// A map without a variant, or a variant map: `variant` is written first.
const record = (fields) => ({ t: 'record', fields });
const variant = (name, fields = {}) => ({ t: 'record', variant: name, fields });
// Members are names of variant records; `open` names the member that takes any other variant
// (data types and column constraints keep words the library does not know).
const union = (members, open = null) => ({ t: 'union', members, open });

const expr = ref('Expr');
const span = ref('Span');
const comparison = oneOf('Eq', 'Neq', 'Lt', 'LtEq', 'Gt', 'GtEq');

const types = {
  Location: record({ line: uint, column: uint }),
  Span: record({ start: ref('Location'), end: ref('Location') }),

  Statement: record({ kind: ref('StatementKind'), span }),
  StatementKind: union(['Select', 'Insert', 'Update', 'Delete', 'CreateTable', 'CreateIndex',
    'DropTable', 'DropIndex']),
  Subquery: record({ kind: ref('Select'), span }),

  Select: variant('Select', {
    distinct: bool,
    projection: arrayOf(ref('SelectItem')),
    from: arrayOf(ref('FromItem')),
    selection: orNull(expr),
    group_by: orNull(arrayOf(expr)),
    having: orNull(expr),
    order_by: arrayOf(ref('OrderItem')),
    limit: orNull(expr),
    offset: orNull(expr),
  }),
  Insert: variant('Insert', {
    table: string, columns: orNull(arrayOf(string)), values: arrayOf(arrayOf(expr)), span,
  }),
  Update: variant('Update', {
    table: string, assignments: arrayOf(ref('Assignment')), selection: orNull(expr), span,
  }),
  Assignment: record({ column: string, value: expr, span }),
  Delete: variant('Delete', { table: string, selection: orNull(expr), span }),
  CreateTable: variant('CreateTable', {
    if_not_exists: bool,
    name: string,
    columns: arrayOf(ref('Column')),
    constraints: arrayOf(ref('TableConstraint')),
    with_options: arrayOf(ref('Option')),
    span,
  }),
  CreateIndex: variant('CreateIndex', {
    if_not_exists: bool,
    name: string,
    table: string,
    column: string,
    method: orNull(oneOf('Hnsw', 'BTree')),
    options: arrayOf(ref('Option')),
    span,
  }),
  DropTable: variant('DropTable', { if_exists: bool, name: string, span }),
  DropIndex: variant('DropIndex', { if_exists: bool, name: string, span }),

  Expr: record({ kind: ref('ExprKind'), span }),
  ExprKind: union(['ColumnRef', 'CastType', 'Literal', 'BinaryOp', 'UnaryOp', 'IsNull', 'InList',
    'Like', 'Between', 'FunctionCall', 'VectorLiteral', 'ScalarSubquery', 'InSubquery', 'Exists',
    'Quantified']),
  ColumnRef: variant('ColumnRef', { table: orNull(string), column: string }),
  // The type argument of CAST: a ColumnRef without `table`.
  CastType: variant('ColumnRef', { column: string }),
  Literal: variant('Literal', { literal: ref('LiteralValue') }),
  LiteralValue: union(['StringLiteral', 'NumberLiteral', 'BooleanLiteral', 'NullLiteral']),
  StringLiteral: variant('String', { value: string }),
  NumberLiteral: variant('Number', { value: string }),
  BooleanLiteral: variant('Boolean', { value: bool }),
  NullLiteral: variant('Null'),
  BinaryOp: variant('BinaryOp', {
    left: expr,
    op: oneOf('Eq', 'Neq', 'Lt', 'LtEq', 'Gt', 'GtEq', 'And', 'Or', 'Add', 'Sub', 'Mul', 'Div',
      'Mod', 'StringConcat'),
    right: expr,
  }),
  UnaryOp: variant('UnaryOp', { op: oneOf('Not', 'Minus'), operand: expr }),
  IsNull: variant('IsNull', { expr, negated: bool }),
  InList: variant('InList', { expr, list: arrayOf(expr), negated: bool }),
  Like: variant('Like', { expr, pattern: expr, escape: orNull(expr), negated: bool }),
  Between: variant('Between', { expr, low: expr, high: expr, negated: bool }),
  FunctionCall: variant('FunctionCall', {
    name: string, args: arrayOf(expr), distinct: bool, star: bool,
  }),
  VectorLiteral: variant('VectorLiteral', { values: arrayOf(number) }),
  ScalarSubquery: variant('ScalarSubquery', { subquery: ref('Subquery') }),
  InSubquery: variant('InSubquery', { expr, subquery: ref('Subquery'), negated: bool }),
  Exists: variant('Exists', { subquery: ref('Subquery'), negated: bool }),
  Quantified: variant('Quantified', {
    expr, op: comparison, quantifier: oneOf('All', 'Any'), subquery: ref('Subquery'),
  }),

  SelectItem: union(['ExprItem', 'Wildcard']),
  ExprItem: variant('Expr', { expr, alias: orNull(string), span }),
  Wildcard: variant('Wildcard', { span }),
  OrderItem: record({ expr, asc: orNull(bool), nulls_first: orNull(bool), span }),

  FromItem: union(['TableRef', 'Derived', 'Join']),
  TableRef: variant('Table', { name: string, alias: orNull(string), span }),
  Derived: variant('Derived', { subquery: ref('Subquery'), alias: orNull(string), span }),
  Join: variant('Join', {
    left: ref('FromItem'),
    right: ref('FromItem'),
    join_type: oneOf('Inner', 'Left', 'Right', 'Full', 'Cross'),
    condition: orNull(expr),
    using: orNull(arrayOf(string)),
    span,
  }),

  Column: record({
    name: string, data_type: ref('DataType'), constraints: arrayOf(ref('ColumnConstraint')), span,
  }),
  DataType: union(['VectorType', 'NamedType'], 'NamedType'),
  VectorType: variant('Vector', { dimension: uint, metric: orNull(string) }),
  // Integer, Int, BigInt, Float, Double, Text, Blob, Boolean, Bool, Timestamp, or any other
  // type name as written.
  NamedType: variant(string),
  ColumnConstraint: union(['Default', 'PlainConstraint'], 'PlainConstraint'),
  Default: variant('Default', { value: orNull(expr), span }),
  // NotNull, PrimaryKey, Unique, or any other constraint word upper-cased.
  PlainConstraint: variant(string, { span }),
  TableConstraint: union(['KeyConstraint']),
  KeyConstraint: variant('PrimaryKey', { columns: arrayOf(string), span }),
  Option: record({ key: string, value: string, span }),

  Document: arrayOf(ref('Statement')),
};

for (const [name, type] of Object.entries(types)) type.name = name;

function describe(type) {
  switch (type.t) {
    case 'record': return type.name;
    case 'ref': return type.name;
    case 'array': return `array of ${describe(type.item)}`;
    case 'nullable': return `${describe(type.of)} or null`;
    case 'enum': return type.values.map((v) => JSON.stringify(v)).join(' | ');
    default: return type.t;
  }
}

// A value in a few words: a document may be too deep for JSON.stringify.
function shallow(v) {
  if (Array.isArray(v)) return `an array of ${v.length}`;
  if (v !== null && typeof v === 'object') return `a map of ${Object.keys(v).join(', ')}`;
  return typeof v === 'bigint' ? `${v}n` : JSON.stringify(v) ?? String(v);
}

function variantOf(record) {
  return typeof record.variant === 'string' ? record.variant : null;
}

// The members of a union whose variant is `name`; the open member when none is.
function membersFor(union, name) {
  const found = union.members.filter((m) => variantOf(types[m]) === name);
  if (found.length > 0 || union.open === null) return found;
  return [union.open];
}

function keysMatch(value, record) {
  const keys = Object.keys(value);
  const want = (record.variant ? ['variant'] : []).concat(Object.keys(record.fields));
  return keys.length === want.length && keys.every((k, i) => k === want[i]);
}

// The first place where `value` is not a `typeName`, as a string, or null when it is one.
// Walks with its own stack: documents nest as deep as their SQL.
function check(value, typeName = 'Document') {
  const work = [[value, ref(typeName), '$']];
  while (work.length > 0) {
    const [v, type, path] = work.pop();
    const bad = () => `${path}: expected ${describe(type)}, got ${shallow(v)}`;
    switch (type.t) {
      case 'bool': if (typeof v !== 'boolean') return bad(); break;
      case 'string': if (typeof v !== 'string') return bad(); break;
      case 'number': if (typeof v !== 'number') return bad(); break;
      case 'uint':
        if (!Number.isInteger(v) || v < 0 || v > 0xffffffff) return bad();
        break;
      case 'enum': if (!type.values.includes(v)) return bad(); break;
      case 'nullable':
        if (v !== null) work.push([v, type.of, path]);
        break;
      case 'array':
        if (!Array.isArray(v)) return bad();
        for (let i = v.length - 1; i >= 0; --i) work.push([v[i], type.item, `${path}[${i}]`]);
        break;
      case 'ref': {
        const target = types[type.name];
        if (target.t === 'record') {
          work.push([v, target, path]);
        } else if (target.t === 'union') {
          if (v === null || typeof v !== 'object' || typeof v.variant !== 'string') return bad();
          // Two members may share a variant (ColumnRef and the CAST type); the keys decide.
          const fits = membersFor(target, v.variant).filter((m) => keysMatch(v, types[m]));
          if (fits.length !== 1) return `${path}: no ${type.name} has variant ${JSON.stringify(v.variant)} with keys ${Object.keys(v).join(', ')}`;
          work.push([v, types[fits[0]], path]);
        } else {
          work.push([v, target, path]);
        }
        break;
      }
      case 'record': {
        if (v === null || typeof v !== 'object' || Array.isArray(v)) return bad();
        if (!keysMatch(v, type)) {
          return `${path}: keys ${Object.keys(v).join(', ')} where ${(type.variant ? ['variant'] : []).concat(Object.keys(type.fields)).join(', ')} were expected`;
        }
        if (type.variant !== undefined) {
          const want = typeof type.variant === 'string' ? oneOf(type.variant) : type.variant;
          work.push([v.variant, want, `${path}.variant`]);
        }
        const names = Object.keys(type.fields);
        for (let i = names.length - 1; i >= 0; --i) {
          work.push([v[names[i]], type.fields[names[i]], `${path}.${names[i]}`]);
        }
        break;
      }
      default:
        throw new Error(`unknown type ${type.t}`);
    }
  }
  return null;
}

module.exports = { types, check };
