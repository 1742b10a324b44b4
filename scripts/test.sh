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
# parallelism. The first configuration that fails ends the run with its
# status, after a summary of every configuration: passed, failed or not run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/deps.sh"
zolk_require_packages "${ZOLK_BUILD_PACKAGES[@]}" "${ZOLK_FUZZ_PACKAGES[@]}"

jobs=${JOBS:-$(nproc)}
configs=("$@")
[ ${#configs[@]} -eq 0 ] && configs=(normal asan tsan fuzz)

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

run_config() {
  local name=$1 dir="$root/build/test-$1" cmake_args=() ctest_args=()
  case "$name" in
    normal) cmake_args=(-DZOLK_WERROR=ON) ;;
    asan)   cmake_args=(-DZOLK_SANITIZE=address,undefined) ;;
    tsan)   cmake_args=(-DZOLK_SANITIZE=thread); ctest_args=(-L tsan) ;;
    fuzz)   JOBS=$jobs "$root/scripts/fuzz.sh" "${ZOLK_FUZZ_SECONDS:-10}"; return ;;
    *) echo "unknown configuration: $name (normal, asan, tsan or fuzz)" >&2; return 2 ;;
  esac
  echo "=== $name: configure and build"
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DZOLK_BUILD_TESTS=ON "${cmake_args[@]}" >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "=== $name: test"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" "${ctest_args[@]}"
  echo "=== $name: skipped tests"
  awk -f "$root/scripts/skipped.awk" "$dir/Testing/Temporary/LastTest.log"
}

# Runs the configurations in order and stops at the first that fails, but
# always ends with a summary that says which passed, which failed and which
# were not run, so a stop never hides what was left out.
declare -A outcome=()
summary() {
  local c status=$?
  echo "=== summary"
  for c in "${configs[@]}"; do
    printf '  %-7s %s\n' "$c" "${outcome[$c]:-not run}"
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
