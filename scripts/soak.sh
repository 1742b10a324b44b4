#!/usr/bin/env bash
# Soak: a trace writer rotates through 4 files of 64 KiB with locking while
# followers read the set beside it for SECONDS (default 60): the follower on
# the reader library (zolk_soak follow) and zolk2tail, each once at full
# speed and once behind a slow pipe, so that the writer laps it. Every line
# carries its sequence number and a checksum; at the end the lines of each
# follower are counted: lost without a lap, lost to a lap the follower
# reported, duplicated, torn, and late (out of order). It fails unless only
# laps lost lines.
#
#   scripts/soak.sh [SECONDS]
#
# ZOLK_BUILD_DIR is the build tree (default build/test-normal, built when the
# tools are missing); SOAK_RATE the lines written a second (default 5000);
# SOAK_KEEP=1 keeps the files of the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
rate=${SOAK_RATE:-5000}
build=${ZOLK_BUILD_DIR:-$root/build/test-normal}
soak=$build/tests/soak/zolk_soak
writer=$build/support/tracewriter/zolk_tracewriter
tailcmd=$build/zolktail/zolk2tail
if [ ! -x "$soak" ] || [ ! -x "$writer" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DZOLK_BUILD_TESTS=ON >/dev/null
  cmake --build "$build" -j "${JOBS:-2}" --target zolk_soak zolk_tracewriter_cmd
  cmake --build "$build" -j "${JOBS:-2}" --target zolk2tail 2>/dev/null || true
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/zolk-soak.XXXXXX")
pids=()
cleanup() {
  [ ${#pids[@]} -eq 0 ] || kill "${pids[@]}" 2>/dev/null || true
  wait 2>/dev/null || true
  if [ -n "${SOAK_KEEP:-}" ]; then echo "soak: files kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
mkdir "$work/trc"

"$soak" gen "$seconds" "$rate" "$work/go" "$work/count" |
  "$writer" -d "$work/trc" -p soak -n 4 -s 65536 -r >"$work/writer.out" &
writer_pid=$!
pids+=("$writer_pid")
for _ in $(seq 200); do
  [ -s "$work/trc/mmap/soak.mm" ] && break
  sleep 0.05
done

# A follower writes into a FIFO read by the slow pipe, so that the
# follower itself can be stopped at the end and the pipe drains after it.
# Lines average about 80 bytes: the slow pipe passes a third of the rate.
slow=$((rate * 80 / 3))
followers=() follower_pids=() drain_pids=()
start() {  # NAME SLOW COMMAND...
  local name=$1 slowly=$2
  shift 2
  followers+=("$name")
  if [ "$slowly" = yes ]; then
    mkfifo "$work/$name.fifo"
    "$soak" slow "$slow" <"$work/$name.fifo" >"$work/$name" &
    drain_pids+=($!)
    "$@" >"$work/$name.fifo" 2>&1 &
  else
    "$@" >"$work/$name" 2>&1 &
  fi
  follower_pids+=($!)
  pids+=($!)
}
start lib no "$soak" follow "$work/trc" soak
start lib-slow yes "$soak" follow "$work/trc" soak
if [ -x "$tailcmd" ]; then
  start tail no "$tailcmd" -a -i 5 "$work/trc/soak1.log"
  start tail-slow yes "$tailcmd" -a -i 5 "$work/trc/soak1.log"
else
  echo "zolk2tail is not built: its followers are left out"
fi
sleep 0.5
echo "soak: $rate lines a second for $seconds s into 4 files of 64 KiB; followers: ${followers[*]}"
touch "$work/go"
wait "$writer_pid"
last=$(cat "$work/count")

# The followers catch up (the slow ones take a while) or, lapped at the
# very end, stand still for a few seconds; then they stop.
deadline=$((SECONDS + 60))
final=$(printf '%010d ' "$last")
for name in "${followers[@]}"; do
  size=-1 still=0
  while [ $SECONDS -lt $deadline ] && [ $still -lt 25 ] &&
        ! tail -c 400 "$work/$name" | grep -q "^$final"; do
    now=$(stat -c %s "$work/$name")
    if [ "$now" = "$size" ]; then still=$((still + 1)); else still=0 size=$now; fi
    sleep 0.2
  done
done
kill -TERM "${follower_pids[@]}" 2>/dev/null || true
for pid in "${follower_pids[@]}" "${drain_pids[@]}"; do
  wait "$pid" || true
done
pids=()

args=()
for name in "${followers[@]}"; do args+=("$name=$work/$name"); done
"$soak" check "$last" "${args[@]}"
