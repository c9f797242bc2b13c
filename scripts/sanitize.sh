#!/usr/bin/env bash
# Shows that no test input crashes, leaks or races, in three stages that each build their own
# tree beside build/:
#   asan      every test under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan)
#   tsan      the threading tests under ThreadSanitizer (build-tsan)
#   valgrind  the plain test binary under memcheck, which also sees the real stack frames that
#             the small-stack nesting tests are about (build-vg)
#   debug     the nesting, stack and error tests in an unoptimised -O0 build, whose frames are
#             several times larger: deep input must still fail cleanly there (build-debug)
# All stages run even when one fails; the exit status is non-zero if any reported anything.
#
#   scripts/sanitize.sh [asan] [tsan] [valgrind] [debug]     (default: all four)
set -euo pipefail
# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# Sanitizer builds ask for nothing beyond the compiler (gcc's sanitizer runtimes come with
# g++); memcheck is a package of its own.
QUORIX_EXTRA_PACKAGES="$QUORIX_EXTRA_PACKAGES valgrind"

# Left out under ASan: the linear-time test, whose timing ratios mean nothing under
# instrumentation. (The 500-level nesting tests do run, on a 2 MiB thread: the ASan build leaves
# out use-after-scope poisoning, which makes frames larger still.)
# Set QUORIX_ASAN_EXCLUDE= (empty) to run everything.
QUORIX_ASAN_EXCLUDE=${QUORIX_ASAN_EXCLUDE-^LinearTime\.}
# Every gtest whose name mentions threads: the concurrent-calls suite and the test that frees
# blocks on another thread.
QUORIX_TSAN_FILTER=${QUORIX_TSAN_FILTER:-*Thread*}
# Memcheck runs the big tests 35 to 60 times slower than the plain build. Left out: the
# million-term chains of the parser and the tools (minutes each; ChainDepth runs the same rules
# at 100,000 terms, and the tools' long join lists stay in), the 100 MiB text (close to 3
# minutes, and its 60 s time limit fails there) and the linear-time test (timing). ASan runs
# them all in full.
valgrind_skip='LimitsChains.MillionTermChainsParseAndEncode:*.MillionTermOrChainOnASmallStack'
valgrind_skip+=':Format.LongChainsOnAHostStack:LimitsBigText.*:LinearTime.*'
QUORIX_VALGRIND_FILTER=${QUORIX_VALGRIND_FILTER:-*-$valgrind_skip}

jobs=$(nproc)

# configure DIR [cmake -D...]: a RelWithDebInfo tree (-O2 -g) in DIR.
configure() {
  local dir=$1
  shift
  cmake -S "$QUORIX_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
}

stage_asan() {
  local dir=$QUORIX_ROOT/build-asan
  configure "$dir" -DQUORIX_SANITIZE=address,undefined || return 1
  # gtest_discover_tests runs the instrumented binary while building, so the options apply
  # from here on.
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  cmake --build "$dir" -j "$jobs" || return 1
  local exclude=()
  if [[ -n $QUORIX_ASAN_EXCLUDE ]]; then
    echo "asan: not run here: tests matching $QUORIX_ASAN_EXCLUDE (see scripts/sanitize.sh)"
    exclude=(-E "$QUORIX_ASAN_EXCLUDE")
  fi
  (cd "$dir" && ctest --output-on-failure -j "$jobs" "${exclude[@]}")
}

stage_tsan() {
  local dir=$QUORIX_ROOT/build-tsan
  configure "$dir" -DQUORIX_SANITIZE=thread || return 1
  export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
  cmake --build "$dir" -j "$jobs" --target quorix_tests || return 1
  "$dir/tests/quorix_tests" --gtest_filter="$QUORIX_TSAN_FILTER"
}

stage_valgrind() {
  local dir=$QUORIX_ROOT/build-vg
  configure "$dir" || return 1
  cmake --build "$dir" -j "$jobs" --target quorix_tests || return 1
  valgrind --tool=memcheck --leak-check=full --errors-for-leak-kinds=definite,indirect \
    --error-exitcode=1 --track-origins=yes --num-callers=40 \
    "$dir/tests/quorix_tests" --gtest_filter="$QUORIX_VALGRIND_FILTER"
}

# What the -O0 build runs: everything about nesting, small stacks and error positions, and the
# documents themselves, since only a debug build checks every run of writes against its room
# and every map against its header's count.
QUORIX_DEBUG_FILTER=${QUORIX_DEBUG_FILTER:-LimitsNesting.*:HostileBytes.*:Errors.*:Api.*:*Golden*:MsgPack*:StatementArray.*:SpanInheritance.*:LongInsert.*}

stage_debug() {
  local dir=$QUORIX_ROOT/build-debug
  cmake -S "$QUORIX_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Debug || return 1
  cmake --build "$dir" -j "$jobs" --target quorix_tests || return 1
  "$dir/tests/quorix_tests" --gtest_filter="$QUORIX_DEBUG_FILTER"
}

main() {
  local stages=("$@")
  if ((${#stages[@]} == 0)); then
    stages=(asan tsan valgrind debug)
  fi
  local stage
  for stage in "${stages[@]}"; do
    case $stage in
      asan | tsan | valgrind | debug) ;;
      *)
        echo "usage: $0 [asan] [tsan] [valgrind] [debug]" >&2
        return 2
        ;;
    esac
  done

  quorix_install_packages

  local passed=0 failed=0 start rc summary=()
  for stage in "${stages[@]}"; do
    echo "== sanitize: $stage"
    start=$SECONDS
    rc=0
    # A subshell keeps one stage's exported options out of the next; set -e does not hold
    # inside a condition, hence the explicit returns in the stages.
    ("stage_$stage") || rc=$?
    if ((rc == 0)); then
      passed=$((passed + 1))
      summary+=("$stage: passed in $((SECONDS - start)) s")
    else
      failed=$((failed + 1))
      summary+=("$stage: FAILED (exit $rc) in $((SECONDS - start)) s")
    fi
  done
  printf '== %s\n' "${summary[@]}"
  echo "sanitize: $passed passed, $failed failed"
  ((failed == 0))
}

main "$@"
