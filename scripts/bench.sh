#!/usr/bin/env bash
# Benchmarks quorix_parse_sql against PostgreSQL's parser (pg_query) on generated workloads.
#
# Installs what is missing, builds a Release tree in build-bench/, checks that every generated
# statement parses, runs the benchmarks (console table on standard output, JSON in
# bench/results/latest.json) and writes bench/results/table.md and bench/results/ratios.png.
#
# Extra arguments go to the benchmark binary (for example --benchmark_filter=oltp).
# QUORIX_BENCH_REPETITIONS (default 3) and QUORIX_BENCH_MIN_TIME (seconds, default 0.3) tune the
# runs; the report takes the median of the repetitions and rewrites the summary in README.md.
# The allocator is glibc as every process starts it; QUORIX_BENCH_HEAP=warm or =cold pins its
# thresholds instead, for comparison (see pinAllocator in bench/bench_main.cpp).
#
# Then, when node and npm are on PATH, node/bench/parse.js measures parse() from Node against
# node-sql-parser on the same statements (bench/results/node.json; the report adds a Node.js
# section). QUORIX_BENCH_NODE=0 leaves it out; QUORIX_NODE_BENCH_ROUNDS (default 5) tunes it.
set -euo pipefail
# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# The build's own packages plus Google Benchmark, the PostgreSQL parser library, the plotting
# library of the report and lscpu for its machine line.
QUORIX_PACKAGES+=(libbenchmark-dev libpg-query-dev python3-matplotlib util-linux)
quorix_install_packages

BUILD_DIR=${QUORIX_BENCH_BUILD_DIR:-$QUORIX_ROOT/build-bench}
RESULTS=$QUORIX_ROOT/bench/results
mkdir -p "$RESULTS"

cmake -S "$QUORIX_ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DQUORIX_BUILD_BENCH=ON \
  -DQUORIX_BUILD_TESTS=OFF -DQUORIX_BUILD_TOOLS=OFF -DQUORIX_SANITIZE=
cmake --build "$BUILD_DIR" -j "$(nproc)" --target quorix_bench corpus_check

"$BUILD_DIR/bench/corpus_check"

"$BUILD_DIR/bench/quorix_bench" \
  --benchmark_repetitions="${QUORIX_BENCH_REPETITIONS:-3}" \
  --benchmark_min_time="${QUORIX_BENCH_MIN_TIME:-0.3}" \
  --benchmark_display_aggregates_only=true \
  --benchmark_out="$RESULTS/latest.json" --benchmark_out_format=json \
  "$@" | tee "$RESULTS/latest.txt"

# Node reads the very statements measured above, dumped by the generator rather than regenerated
# in JavaScript. A stale node.json must not be reported as this run's.
rm -f "$RESULTS/node.json"
node_status=0
if [[ ${QUORIX_BENCH_NODE:-1} == 0 ]]; then
  echo "bench.sh: QUORIX_BENCH_NODE=0, Node.js benchmark skipped"
elif ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "bench.sh: node or npm not found on PATH, Node.js benchmark skipped" >&2
else
  "$BUILD_DIR/bench/corpus_check" --dump "$BUILD_DIR/node-corpora" || node_status=$?
  # The addon is rebuilt every time so that Node measures the sources the C++ run measured.
  if [[ $node_status != 0 ]]; then
    :
  elif [[ -d $QUORIX_ROOT/node/node_modules/node-sql-parser ]]; then
    (cd "$QUORIX_ROOT/node" && node scripts/build.js) || node_status=$?
  else
    (cd "$QUORIX_ROOT/node" && npm ci) || node_status=$?
  fi
  if [[ $node_status == 0 ]]; then
    node "$QUORIX_ROOT/node/bench/parse.js" --corpora "$BUILD_DIR/node-corpora" \
      --out "$RESULTS/node.json" --c-results "$RESULTS/latest.json" || node_status=$?
  fi
  if [[ $node_status != 0 ]]; then
    rm -f "$RESULTS/node.json"
    echo "bench.sh: the Node.js benchmark failed (status $node_status)" >&2
  fi
fi

# Debian's matplotlib is installed for Debian's interpreter, which may not be the first python3
# on PATH.
PYTHON=python3
[[ -x /usr/bin/python3 ]] && PYTHON=/usr/bin/python3
"$PYTHON" "$QUORIX_ROOT/bench/report.py" "$RESULTS/latest.json" "$RESULTS" \
  --readme "$QUORIX_ROOT/README.md"
exit "$node_status"
