// Compiled by `npm run typecheck` only: each @ts-expect-error line must be an error, so the
// declarations cannot quietly widen to `any` or lose their discriminants.
import { parse, tokens, type Statement } from 'quorix-sql-parser';

const [s]: Statement[] = parse('SELECT a FROM t');
// @ts-expect-error projection exists only once variant is narrowed to "Select"
s.kind.projection;
if (s.kind.variant === 'Select') {
  const first = s.kind.projection[0];
  // @ts-expect-error a Wildcard item has no expr
  if (first.variant === 'Wildcard') first.expr;
  const where = s.kind.selection;
  // @ts-expect-error selection may be null
  where.kind;
  if (where !== null && where.kind.variant === 'BinaryOp') {
    // @ts-expect-error "Like" is not a BinaryOp operator
    const op: typeof where.kind.op = 'Like';
    void op;
  }
}
if (s.kind.variant === 'DropTable') {
  // @ts-expect-error DropTable has if_exists, not if_not_exists
  s.kind.if_not_exists;
}
// @ts-expect-error tokenClass is a closed set of names
const c: ReturnType<typeof tokens>[number]['tokenClass'] = 'word';
void c;
// @ts-expect-error parse takes text, not numbers
parse(1);
