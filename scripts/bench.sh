#!/usr/bin/env bash
# Builds the benchmark programs (Release, no sanitizers) and runs them; each
# prints its figures and then their ratios to the baselines of the same run.
#
#   scripts/bench.sh [name-filter] [-- benchmark args...]
#
# name-filter selects programs by name (e.g. zolksys); the arguments after --
# go to every program (e.g. --benchmark_min_time=2).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/deps.sh"
zolk_require_packages "${ZOLK_BUILD_PACKAGES[@]}" "${ZOLK_BENCH_PACKAGES[@]}"

filter=""
if [ $# -gt 0 ] && [ "$1" != "--" ]; then filter=$1; shift; fi
[ "${1:-}" = "--" ] && shift

dir="$root/build/bench"
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DZOLK_BUILD_TESTS=OFF -DZOLK_BUILD_BENCH=ON >/dev/null
cmake --build "$dir" -j "${JOBS:-$(nproc)}"

found=0
while IFS= read -r prog; do
  case "$(basename "$prog")" in *"$filter"*) ;; *) continue ;; esac
  found=1
  echo "=== $(basename "$prog")"
  "$prog" "$@"
done < <(find "$dir/bench" -type f -name 'bench_*' -perm -u+x | sort)
[ "$found" -eq 1 ] || { echo "no benchmark program matches '$filter'" >&2; exit 1; }
