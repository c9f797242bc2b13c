#!/usr/bin/env bash
# Builds the libFuzzer targets (ASan + UBSan) and runs each for a while.
#
#   scripts/fuzz.sh [seconds]      seconds per target, default 120
#
# Every run starts from the committed seeds in fuzz/corpus but grows a scratch copy, so the
# repository is never touched. The saved regressions in fuzz/regressions are replayed first.
# Exits non-zero when a target reports a crash, leak, timeout or broken invariant.
set -euo pipefail

seconds="${1:-120}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]]; then
  echo "usage: $0 [seconds]" >&2
  exit 2
fi

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QUORIX_FUZZ_BUILD_DIR:-$root/build-fuzz}"

need=()
command -v clang++ >/dev/null 2>&1 || need+=(clang)
if ! compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null; then
  need+=(libclang-rt-14-dev)
fi
if ((${#need[@]})); then
  echo "== installing ${need[*]}"
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    "${need[@]}"
fi

echo "== building fuzz targets in $build"
cmake -S "$root/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j "$(nproc)"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Deep recursion gives every allocation a new stack trace, and ASan keeps each one for good;
# eight frames locate a leak well enough and keep a long run under the RSS limit.
export ASAN_OPTIONS="detect_leaks=1:malloc_context_size=8:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
common=(-timeout=10 -rss_limit_mb=2048 -print_final_stats=1)

status=0

shopt -s nullglob
regressions=("$root"/fuzz/regressions/*.sql)
if ((${#regressions[@]})); then
  echo "== replaying ${#regressions[@]} saved regressions"
  if ! "$build/fuzz_parse" "${common[@]}" "${regressions[@]}" >"$work/regressions.log" 2>&1; then
    tail -n 40 "$work/regressions.log"
    echo "!! a saved regression still fails" >&2
    status=1
  fi
fi

run_target() {
  local target="$1"
  shift
  local corpus="$work/corpus-$target"
  local artifacts="$work/artifacts-$target/"
  mkdir -p "$corpus" "$artifacts"
  cp "$root"/fuzz/corpus/* "$corpus"/
  # The golden documents' texts are real statements of every kind: good raw-byte seeds.
  if [[ $target == fuzz_parse ]]; then
    for f in "$root"/tests/golden/*.sql; do cp "$f" "$corpus/golden-$(basename "$f")"; done
  fi
  echo "== $target for ${seconds}s"
  local rc=0
  "$build/$target" "${common[@]}" -max_total_time="$seconds" -artifact_prefix="$artifacts" \
    "$@" "$corpus" >"$work/$target.log" 2>&1 || rc=$?
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' \
    "$work/$target.log" | sed "s/^/   $target /" || true
  local found=("$artifacts"*)
  if ((rc != 0 || ${#found[@]})); then
    tail -n 60 "$work/$target.log"
    for f in "${found[@]}"; do
      mkdir -p "$root/build-fuzz-artifacts"
      cp "$f" "$root/build-fuzz-artifacts/"
      echo "!! $target: $(basename "$f") saved to build-fuzz-artifacts/" >&2
    done
    status=1
  fi
}

run_target fuzz_parse -max_len=4096 -dict="$root/fuzz/sql.dict"
run_target fuzz_grammar -max_len=4096

if ((status)); then
  echo "== fuzzing found problems" >&2
else
  echo "== no problems found"
fi
exit "$status"
