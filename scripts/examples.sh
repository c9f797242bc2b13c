#!/usr/bin/env bash
# Builds the project, installs it into a temporary prefix and builds the hosts in examples/
# against that install alone (pkg-config for C, find_package for CMake), then runs them and the
# installed quorix-sql on SQL that parses and SQL that does not. What it proves is that an
# install is complete and relocatable: nothing here may reach back into the source or build
# tree. Exits non-zero if any check fails.
set -euo pipefail
# pkg-config builds the C host; valgrind shows that both of its paths free what they get.
QUORIX_EXTRA_PACKAGES="${QUORIX_EXTRA_PACKAGES:-} pkg-config valgrind"
# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

quorix_prepare

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/stage
cmake --install "$QUORIX_BUILD_DIR" --prefix "$stage"

# The library directory follows GNUInstallDirs (lib/ or lib/<multiarch>/); find it rather
# than assume it.
pc=$(find "$stage" -name quorix_sql_parser.pc -print -quit)
if [[ -z $pc ]]; then
  echo "examples: no quorix_sql_parser.pc under $stage" >&2
  exit 1
fi
pcdir=$(dirname "$pc")
libdir=$(dirname "$pcdir")

failures=()
checks=0

# expect NAME STATUS STDOUT STDERR COMMAND...: runs COMMAND and compares its exit status and
# its whole standard output and standard error with the expected ones.
expect() {
  local name=$1 want_status=$2 want_out=$3 want_err=$4
  shift 4
  local status=0 out err
  "$@" >"$work/out" 2>"$work/err" || status=$?
  out=$(<"$work/out")
  err=$(<"$work/err")
  checks=$((checks + 1))
  if [[ $status != "$want_status" || $out != "$want_out" || $err != "$want_err" ]]; then
    failures+=("$name")
    {
      echo "examples: FAIL $name"
      echo "  exit status $status, wanted $want_status"
      echo "  stdout: $out"
      echo "  wanted: $want_out"
      echo "  stderr: $err"
      echo "  wanted: $want_err"
    } >&2
  else
    echo "examples: ok   $name"
  fi
}

# Only the library, its header, the command and the two package descriptions are installed:
# no tests, benchmarks or fuzzers.
installed=$(cd "$stage" && find . -type f -o -type l | sed 's|^\./||; s|[^/]*/pkgconfig/|LIB/pkgconfig/|' |
  sed -E 's|^lib(/[^/]*-linux-[^/]*)?/|LIB/|; s|-targets-[a-z]+\.cmake$|-targets-CONFIG.cmake|' |
  LC_ALL=C sort | tr '\n' ' ')
expect installed_files 0 "LIB/cmake/quorix_sql_parser/quorix_sql_parser-config-version.cmake\
 LIB/cmake/quorix_sql_parser/quorix_sql_parser-config.cmake\
 LIB/cmake/quorix_sql_parser/quorix_sql_parser-targets-CONFIG.cmake\
 LIB/cmake/quorix_sql_parser/quorix_sql_parser-targets.cmake\
 LIB/libquorix_sql_parser.so LIB/libquorix_sql_parser.so.0 LIB/libquorix_sql_parser.so.0.1.0\
 LIB/libquorix_sql_tools.so LIB/libquorix_sql_tools.so.0 LIB/libquorix_sql_tools.so.0.1.0\
 LIB/pkgconfig/quorix_sql_parser.pc LIB/pkgconfig/quorix_sql_tools.pc bin/quorix-sql\
 include/quorix_sql_parser.h include/quorix_sql_tools.h" "" echo "${installed% }"

valid=$'SELECT a FROM t WHERE b = 1;\nDROP TABLE t'
invalid='SELECT 1; DROP VIEW v'
message="Parse error at line 1, col 16: expected TABLE or INDEX after DROP (got tkIdent 'VIEW')"

# The installed command finds the library through its install RPATH alone.
# Only the outline of its output is checked: the command's own tests own the details.
cli_head() { env -u LD_LIBRARY_PATH "$stage/bin/quorix-sql" --compact "$1" | cut -c1-31; }
expect cli_valid 0 '[{"kind":{"variant":"DropTable"' "" cli_head "DROP TABLE t"
cli_rejects() {
  local status=0
  env -u LD_LIBRARY_PATH "$stage/bin/quorix-sql" "$1" 2>"$work/cli_err" || status=$?
  grep -q "expected TABLE or INDEX after DROP" "$work/cli_err" || return 3
  return "$status"
}
expect cli_invalid 1 "" "" cli_rejects "$invalid"

export PKG_CONFIG_PATH=$pcdir
version=$("$stage/bin/quorix-sql" --version)
expect pkg_config_version 0 "$version" "" pkg-config --modversion quorix_sql_parser
expect pkg_config_tools_version 0 "$version" "" pkg-config --modversion quorix_sql_tools
# The installed command reaches the tools library through its RPATH too.
cli_split() { env -u LD_LIBRARY_PATH "$stage/bin/quorix-sql" split --compact "$1"; }
expect cli_tools 0 '[{"text":"SELECT 1","start":0,"end":8,"start_line":1,"start_column":1,"end_line":1,"end_column":8}]' "" \
  cli_split "SELECT 1;"

cp -r "$QUORIX_ROOT/examples/c_host" "$QUORIX_ROOT/examples/cmake_host" "$work/"
expect c_host_build 0 "" "" make -s -C "$work/c_host" CFLAGS="-O2 -Werror"
expect c_host_valid 0 $'1: Select 1:1-1:6\n2: DropTable 2:1-2:4' "" \
  env LD_LIBRARY_PATH="$libdir" "$work/c_host/c_host" "$valid"
expect c_host_invalid 1 "" "$message" env LD_LIBRARY_PATH="$libdir" "$work/c_host/c_host" "$invalid"
expect c_host_empty 0 "" "" env LD_LIBRARY_PATH="$libdir" "$work/c_host/c_host" "-- nothing;;"
# Every OR term nests the document two levels deeper and every join one: 2,006 and 308 levels
# here, far past a decoder with a fixed limit. The statement after each shows that the deep one
# was skipped to its last byte.
or_chain="SELECT a$(printf ' OR a%.0s' {1..999})"
join_chain="SELECT * FROM t0$(for i in {1..299}; do printf ' JOIN t%d ON t%d.a = t0.a' $i $i; done)"
for deep in or_chain join_chain; do
  sql=${!deep}
  drop=$((${#sql} + 3))
  expect "c_host_$deep" 0 $'1: Select 1:1-1:6\n'"2: DropTable 1:$drop-1:$((drop + 3))" "" \
    env LD_LIBRARY_PATH="$libdir" "$work/c_host/c_host" "$sql; DROP TABLE t"
done
# Both paths must hand their block back: memcheck counts anything left over as an error.
memcheck() {
  local status=0
  env LD_LIBRARY_PATH="$libdir" valgrind -q --leak-check=full --errors-for-leak-kinds=all \
    --error-exitcode=99 "$work/c_host/c_host" "$1" >/dev/null 2>&1 || status=$?
  ((status == 0 || status == 1)) || return "$status"
}
expect c_host_memcheck_valid 0 "" "" memcheck "$valid"
expect c_host_memcheck_invalid 0 "" "" memcheck "$invalid"

cmake_build=$work/cmake_host/build
cmake_host_configure() {
  cmake -S "$work/cmake_host" -B "$cmake_build" -DCMAKE_PREFIX_PATH="$stage" \
    -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
}
expect cmake_host_configure 0 "" "" cmake_host_configure
cmake_host_build() { cmake --build "$cmake_build" >/dev/null; }
expect cmake_host_build 0 "" "" cmake_host_build
# CMake puts the imported library's directory in the build RPATH, so no LD_LIBRARY_PATH here.
cmake_host_count() { env -u LD_LIBRARY_PATH "$cmake_build/cmake_host" "$1" | sed 's/ [0-9]* bytes$//'; }
expect cmake_host_valid 0 "quorix_sql_parser $version: 2 statements in" "" cmake_host_count "$valid"
expect cmake_host_invalid 1 "" "$message" env -u LD_LIBRARY_PATH "$cmake_build/cmake_host" "$invalid"

if ((${#failures[@]})); then
  echo "examples: ${#failures[@]} of $checks checks failed: ${failures[*]}" >&2
  exit 1
fi
echo "examples: all $checks checks passed"
