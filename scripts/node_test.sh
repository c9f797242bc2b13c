#!/usr/bin/env bash
# The Node.js package in node/: installs its npm modules, builds the addon against the local
# Node headers, checks the TypeScript declarations, runs the tests, then packs the package and
# installs the tarball into a fresh folder, where it must build and work. Quiet on success;
# on failure prints the output of the step that failed. Extra arguments go to `node --test`.
set -euo pipefail
# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# The addon's build needs a C++20 compiler, make and Python (node-gyp), and Node.js and npm
# with their headers (include/node): a machine without Node gets Debian's.
QUORIX_PACKAGES=(g++ make python3)
command -v node >/dev/null && command -v npm >/dev/null || QUORIX_PACKAGES+=(nodejs npm libnode-dev)
quorix_install_packages
for tool in node npm; do
  command -v "$tool" >/dev/null || { echo "node_test.sh: $tool is not installed" >&2; exit 77; }
done

NODE_DIR=$QUORIX_ROOT/node
LOG_DIR=$(mktemp -d)
SCRATCH=$(mktemp -d)
cleanup() { rm -rf "$LOG_DIR" "$SCRATCH"; rm -rf "$NODE_DIR/core"; }
trap cleanup EXIT

step() {
  local name=$1
  shift
  if ! "$@" >"$LOG_DIR/$name.log" 2>&1; then
    echo "node_test.sh: $name failed:" >&2
    cat "$LOG_DIR/$name.log" >&2
    exit 1
  fi
}

cd "$NODE_DIR"
# npm ci only when the lock file changed since the last install: it deletes node_modules.
if [[ ! -f node_modules/.package-lock.json || package-lock.json -nt node_modules/.package-lock.json ]]; then
  step npm-ci npm ci --ignore-scripts --no-audit --no-fund
fi
if [[ -f build/Makefile && build/Makefile -nt binding.gyp ]]; then
  step build npx --no-install node-gyp build -j 2
else
  step build node scripts/build.js
fi
step typecheck npm run --silent typecheck
step test node --test test/ "$@"

# The tarball must build where there is no repository around it.
step pack npm pack --silent --pack-destination "$SCRATCH"
mkdir "$SCRATCH/app"
echo '{"name": "smoke", "private": true}' >"$SCRATCH/app/package.json"
step install npm install --prefix "$SCRATCH/app" --no-audit --no-fund \
  "$SCRATCH/quorix-sql-parser-0.1.0.tgz"
step smoke node -e '
  const assert = require("assert");
  const q = require(process.argv[1]);
  assert.strictEqual(q.parse("DROP TABLE t")[0].kind.name, "t");
  assert.strictEqual(q.format("select  a from t"), "SELECT a FROM t;\n");
  assert.throws(() => q.parse("DROP VIEW v"), q.SqlSyntaxError);
  q.parseAsync("SELECT 1").then((d) => assert.strictEqual(d[0].kind.variant, "Select"));
' "$SCRATCH/app/node_modules/quorix-sql-parser"
