// Walks a query with the declarations' narrowing: no casts, no `any`.
import { parse, SqlSyntaxError, type Expr, type FromItem } from 'quorix-sql-parser';

function tables(item: FromItem, out: string[]): void {
  switch (item.variant) {
    case 'Table':
      out.push(item.alias ?? item.name);
      break;
    case 'Derived':
      if (item.alias !== null) out.push(item.alias);
      break;
    case 'Join':
      tables(item.left, out);
      tables(item.right, out);
      break;
  }
}

function columns(e: Expr | null, out: string[]): void {
  if (e === null) return;
  const k = e.kind;
  switch (k.variant) {
    case 'ColumnRef':
      out.push('table' in k && k.table !== null ? `${k.table}.${k.column}` : k.column);
      break;
    case 'BinaryOp':
      columns(k.left, out);
      columns(k.right, out);
      break;
    case 'UnaryOp':
      columns(k.operand, out);
      break;
    case 'FunctionCall':
      for (const a of k.args) columns(a, out);
      break;
    case 'Literal':
      if (k.literal.variant === 'Number') out.push(`#${k.literal.value}`);
      break;
    default:
      break;
  }
}

const sql = 'SELECT a.x, count(*) FROM a JOIN b ON a.id = b.id WHERE a.y > 10';
for (const statement of parse(sql)) {
  const s = statement.kind;
  if (s.variant === 'Select') {
    const from: string[] = [];
    for (const item of s.from) tables(item, from);
    const used: string[] = [];
    for (const item of s.projection) if (item.variant === 'Expr') columns(item.expr, used);
    columns(s.selection, used);
    console.log(`tables ${from.join(', ')}; columns ${used.join(', ')}; line ${statement.span.start.line}`);
  } else if (s.variant === 'CreateTable') {
    console.log(s.columns.map((c) => c.name));
  }
}

try {
  parse('SELECT FROM');
} catch (e) {
  if (e instanceof SqlSyntaxError) console.log(`syntax error at ${e.line}:${e.column}`);
}
