#!/usr/bin/env bash
# Builds the tree and runs the whole test suite through CTest in three
# configurations: normal (warnings are errors), AddressSanitizer with
# UndefinedBehaviorSanitizer, and ThreadSanitizer (the tests labelled tsan);
# then a short fuzzing run of every fuzz target (scripts/fuzz.sh,
# ZOLK_FUZZ_SECONDS each, default 10). The normal and AddressSanitizer runs
# include the fault tests and a 20-second soak (scripts/soak.sh).
#
#   scripts/test.sh [normal|asan|tsan|fuzz]...    (default: all four)
#
# Build trees go to build/test-<config> (build/fuzz for fuzz); JOBS sets the
# parallelism, ZOLK_CTEST_ARGS adds CTest options (say, -R packaging). A
# build's output goes to a log there, shown when the build fails; CTest's
# is one line per test (on a terminal, one status line for the tests that
# pass) and the whole output of each test that fails. The first
# configuration that fails ends the run with its status, after a summary of
# every configuration: passed, failed or not run, with its counts.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/deps.sh"
source "$root/scripts/quiet.sh"
zolk_require_packages "${ZOLK_BUILD_PACKAGES[@]}" "${ZOLK_FUZZ_PACKAGES[@]}"

jobs=${JOBS:-$(nproc)}
# On a terminal the tests that pass share one status line.
tty=0 cols=80
if [ -t 1 ]; then tty=1; cols=$(tput cols 2>/dev/null || echo 80); fi
configs=("$@")
[ ${#configs[@]} -eq 0 ] && configs=(normal asan tsan fuzz)

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

run_config() {
  local name=$1 dir="$root/build/test-$1" cmake_args=() ctest_args=() status=0 skips
  case "$name" in
    normal) cmake_args=(-DZOLK_WERROR=ON) ;;
    asan)   cmake_args=(-DZOLK_SANITIZE=address,undefined) ;;
    tsan)   cmake_args=(-DZOLK_SANITIZE=thread); ctest_args=(-L tsan) ;;
    fuzz)   JOBS=$jobs "$root/scripts/fuzz.sh" "${ZOLK_FUZZ_SECONDS:-10}"; return ;;
    *) echo "unknown configuration: $name (normal, asan, tsan or fuzz)" >&2; return 2 ;;
  esac
  echo "=== $name: configure and build (output in configure.log and build.log of $dir)"
  zolk_quietly "$dir/configure.log" cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZOLK_BUILD_TESTS=ON "${cmake_args[@]}"
  zolk_quietly "$dir/build.log" cmake --build "$dir" -j "$jobs"
  echo "=== $name: test (CTest's own output in $dir/ctest.log)"
  # The status is CTest's (pipefail): the filter only shortens what is shown.
  rm -f "$dir/ctest.counts"
  # shellcheck disable=SC2086 # ZOLK_CTEST_ARGS holds several words
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" "${ctest_args[@]}" ${ZOLK_CTEST_ARGS:-} 2>&1 | tee "$dir/ctest.log" |
    awk -v tty="$tty" -v cols="$cols" -v counts="$dir/ctest.counts" -f "$root/scripts/ctest-progress.awk" ||
    status=$?
  echo "=== $name: skipped tests"
  skips=$(awk -f "$root/scripts/skipped.awk" "$dir/Testing/Temporary/LastTest.log")
  echo "$skips"
  local tests= failed= names= skipped
  IFS=$'\t' read -r tests failed names <"$dir/ctest.counts" || true
  skipped=$(grep -c '^  skipped: ' <<<"$skips" || true)
  details[$name]="${tests:-?} tests, ${failed:-?} failed${names:+ ($names)}, $skipped skipped"
  return "$status"
}

# Runs the configurations in order and stops at the first that fails, but
# always ends with a summary that says which passed, which failed and which
# were not run, so a stop never hides what was left out.
declare -A outcome=() details=()
summary() {
  local c status=$?
  echo "=== summary"
  for c in "${configs[@]}"; do
    printf '  %-7s %s%s\n' "$c" "${outcome[$c]:-not run}" "${details[$c]:+: ${details[$c]}}"
  done
  return $status
}
trap summary EXIT

for c in "${configs[@]}"; do
  outcome[$c]="failed"
  run_config "$c"
  outcome[$c]="passed"
done
echo "=== all test configurations passed: ${configs[*]}"
