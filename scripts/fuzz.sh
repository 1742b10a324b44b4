#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz with clang 14 (libFuzzer with
# AddressSanitizer and UndefinedBehaviorSanitizer) and runs each one for
# SECONDS (default 30), starting from its committed seed corpus and
# regression inputs.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]    (default: every target)
#
# Prints, per target, the executions and libFuzzer's final coverage (cov:
# edges, ft: features). Exits non-zero when any target finds anything: a
# crash, a broken invariant, a leak, a timeout or running out of memory.
# The input that did it is in build/fuzz/artifacts/<target>/; once the
# fault is fixed it goes to tests/fuzz/regressions/<target>/, which the
# normal test run replays. What a run adds to the corpus stays in
# build/fuzz/corpus/<target>/ and carries over to the next run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/deps.sh"
source "$root/scripts/quiet.sh"
zolk_require_packages "${ZOLK_BUILD_PACKAGES[@]}" "${ZOLK_FUZZ_PACKAGES[@]}"

seconds=${1:-30}
[ $# -gt 0 ] && shift
all=(zolk2getopt zolk2conf zolk2getconf trap_end trap_stream syslog_format jni_convert)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")
dir="$root/build/fuzz"

echo "=== fuzz: configure and build (clang-14; output in configure.log and build.log of $dir)"
CC=clang-14 CXX=clang++-14 zolk_quietly "$dir/configure.log" cmake -S "$root" -B "$dir" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOLK_BUILD_TESTS=OFF -DZOLK_BUILD_FUZZ=ON \
  -DZOLK_SANITIZE=address,undefined -DZOLK_WERROR=ON
zolk_quietly "$dir/build.log" cmake --build "$dir" -j "${JOBS:-$(nproc)}" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# The harnesses' scratch directories, in memory where possible: the setter
# syncs every file it writes, which a disk turns into the cost of a run.
export TMPDIR
TMPDIR=$(mktemp -d /dev/shm/zolkfuzz.XXXXXX 2>/dev/null) || TMPDIR=$(mktemp -d "$dir/tmp.XXXXXX")
trap 'rm -rf "$TMPDIR"' EXIT

failed=()
summary=()
for t in "${targets[@]}"; do
  corpus="$dir/corpus/$t" artifacts="$dir/artifacts/$t" log="$dir/logs/$t.log"
  mkdir -p "$corpus" "$artifacts" "$dir/logs"
  inputs=("$corpus" "$root/tests/fuzz/corpus/$t")
  [ -d "$root/tests/fuzz/regressions/$t" ] && inputs+=("$root/tests/fuzz/regressions/$t")
  echo "=== fuzz: $t for ${seconds}s"
  status=0
  # -close_fd_mask=3: the targets' own output is discarded; libFuzzer and the
  # sanitizers report on a copy of the error stream.
  "$dir/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$artifacts/" "${inputs[@]}" \
    >"$log" 2>&1 || status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1 || true)
  line=$(printf '%-14s %10s executions  %s' "$t" "${execs:-?}" "${cov:-cov: ? ft: ?}")
  if [ "$status" -ne 0 ]; then
    line+="  FINDING (exit $status, log $log)"
    failed+=("$t")
    grep -E 'ERROR|invariant broken|SUMMARY|Test unit written' "$log" | head -20 >&2 || true
  fi
  echo "$line"
  summary+=("$line")
done

echo "=== fuzz: summary (${seconds}s per target)"
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -ne 0 ]; then
  echo "=== fuzz: findings in ${failed[*]} (inputs under $dir/artifacts)" >&2
  exit 1
fi
echo "=== fuzz: no findings"
