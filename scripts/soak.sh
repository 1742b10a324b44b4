#!/usr/bin/env bash
# Soak: a trace writer writes a set of SOAK_FILES files (default 4) of 64 KiB
# with locking while followers read the set beside it, in three runs, each
# on a set of its own, that share SECONDS (default 60) evenly:
#   rotate   the writer goes round the set, overwriting each file in place;
#   restart  the writer also starts the set again from scratch every
#            SOAK_RESTART_LINES lines (default 2000, which ends about the
#            middle of file 3): file 1 at offset 0, each file emptied when
#            first entered again;
#   replace  the writer puts a new file (a new inode) in place of each file
#            it comes round to.
# zolk2tail follows every run, once at full speed and once behind a slow
# pipe so that the writer laps it. The follower on the reader library
# (zolk_soak follow) follows the rotate and replace runs only. It counts the
# writer's entries into files from the record, so it cannot tell a restart
# from the writer moving on or lapping it. It does not see a replacement
# either, but the writer replaces a file only when it comes round to it,
# which is a lap for a follower still in that file, and laps it reports.
#
# The generator feeds the writer one stream, so the lines go on numbered
# across restarts; every line carries its sequence number and a checksum. At
# the end of a run the lines of each follower are counted. A gap in the
# sequence is accepted only where the follower reported a loss between the
# line before the gap and the line after it (zolk_soak check lists the
# forms); lines lost without a report, duplicated, torn, late (out of
# order, as when old data comes after new) and unknown zolk2tail lines fail
# the run, and a failed run fails the soak.
#
#   scripts/soak.sh [SECONDS]
#
# ZOLK_BUILD_DIR is the build tree (default build/test-normal, built when the
# tools are missing); SOAK_RATE the lines written a second (default 5000);
# SOAK_RUNS the runs (default "rotate restart replace"); SOAK_FILES the
# files in each set (default 4); SOAK_KEEP=1 keeps the files of the runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
rate=${SOAK_RATE:-5000}
read -r -a runs <<<"${SOAK_RUNS:-rotate restart replace}"
restart_lines=${SOAK_RESTART_LINES:-2000}
files=${SOAK_FILES:-4}
build=${ZOLK_BUILD_DIR:-$root/build/test-normal}
soak=$build/tests/soak/zolk_soak
writer=$build/support/tracewriter/zolk_tracewriter
tailcmd=$build/zolktail/zolk2tail
if [ ! -x "$soak" ] || [ ! -x "$writer" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DZOLK_BUILD_TESTS=ON >/dev/null
  cmake --build "$build" -j "${JOBS:-2}" --target zolk_soak zolk_tracewriter_cmd
  cmake --build "$build" -j "${JOBS:-2}" --target zolk2tail 2>/dev/null || true
fi
[ -x "$tailcmd" ] || echo "zolk2tail is not built: its followers are left out"

work=$(mktemp -d "${TMPDIR:-/tmp}/zolk-soak.XXXXXX")
pids=()
cleanup() {
  [ ${#pids[@]} -eq 0 ] || kill "${pids[@]}" 2>/dev/null || true
  wait 2>/dev/null || true
  if [ -n "${SOAK_KEEP:-}" ]; then echo "soak: files kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

# A follower writes into a FIFO read by the slow pipe, so that the
# follower itself can be stopped at the end and the pipe drains after it.
# Lines average about 80 bytes: the slow pipe passes a third of the rate.
slow=$((rate * 80 / 3))
start() {  # NAME SLOW COMMAND...
  local name=$1 slowly=$2
  shift 2
  followers+=("$name")
  if [ "$slowly" = yes ]; then
    mkfifo "$dir/$name.fifo"
    "$soak" slow "$slow" <"$dir/$name.fifo" >"$dir/$name" &
    drain_pids+=($!)
    "$@" >"$dir/$name.fifo" 2>&1 &
  else
    "$@" >"$dir/$name" 2>&1 &
  fi
  follower_pids+=($!)
  pids+=($!)
}

# run NAME LIBRARY-FOLLOWERS(yes/no) WRITER-OPTION...: one run; 0 if it
# met the goal.
run() {
  local name=$1 library=$2 began=$SECONDS
  shift 2
  dir=$work/$name
  followers=() follower_pids=() drain_pids=()
  mkdir -p "$dir/trc"
  "$soak" gen "$part" "$rate" "$dir/go" "$dir/count" |
    "$writer" -d "$dir/trc" -p soak -n "$files" -s 65536 -r "$@" >"$dir/writer.out" &
  local writer_pid=$!
  pids+=("$writer_pid")
  for _ in $(seq 200); do
    [ -s "$dir/trc/mmap/soak.mm" ] && break
    sleep 0.05
  done
  if [ "$library" = yes ]; then
    start lib no "$soak" follow "$dir/trc" soak
    start lib-slow yes "$soak" follow "$dir/trc" soak
  fi
  if [ -x "$tailcmd" ]; then
    start tail no "$tailcmd" -a -i 5 "$dir/trc/soak1.log"
    start tail-slow yes "$tailcmd" -a -i 5 "$dir/trc/soak1.log"
  fi
  sleep 0.5
  echo "soak: $name: $rate lines a second for $part s into $files files of 64 KiB, writer options:" \
    "${*:-none}; followers: ${followers[*]}"
  touch "$dir/go"
  local wrote=0
  wait "$writer_pid" || wrote=$?
  echo "soak: $name: writer: $(cat "$dir/writer.out")"
  local last
  last=$(cat "$dir/count" 2>/dev/null || echo 0)

  # The followers catch up (the slow ones take a while) or stand still for
  # a few seconds (lapped at the very end, or stuck); then they stop. They
  # are watched together, so that the wait is the longest of theirs.
  local deadline=$((SECONDS + 60)) final i now
  final=$(printf '%010d ' "$last")
  local size=() still=() waiting=${#followers[@]}
  for i in "${!followers[@]}"; do size[i]=-1 still[i]=0; done
  while [ "$waiting" -gt 0 ] && [ $SECONDS -lt $deadline ]; do
    waiting=0
    for i in "${!followers[@]}"; do
      local f=$dir/${followers[i]}
      [ "${still[i]}" -ge 25 ] && continue
      if tail -c 400 "$f" | grep -q "^$final"; then still[i]=25; continue; fi
      now=$(stat -c %s "$f")
      if [ "$now" = "${size[i]}" ]; then still[i]=$((still[i] + 1)); else still[i]=0 size[i]=$now; fi
      waiting=$((waiting + 1))
    done
    [ "$waiting" -eq 0 ] || sleep 0.2
  done
  kill -TERM "${follower_pids[@]}" 2>/dev/null || true
  for pid in "${follower_pids[@]}" "${drain_pids[@]}"; do
    wait "$pid" || true
  done
  pids=()
  if [ "$wrote" != 0 ] || [ "$last" = 0 ]; then
    echo "soak: $name: the writer failed (status $wrote)"
    return 1
  fi

  local args=()
  for f in "${followers[@]}"; do args+=("$f=$dir/$f"); done
  echo "soak: $name: followers stopped after $((SECONDS - began)) s"
  "$soak" check "$last" "${args[@]}"
}

# A run takes about 3 s more than it writes, to start and for its followers
# to catch up: the runs after the first write that much less, so that the
# soak as a whole takes about as long as one run of SECONDS would.
part=$(awk -v s="$seconds" -v n=${#runs[@]} 'BEGIN { p = (s - 3 * (n - 1)) / n; print p < 1 ? 1 : p }')
failed=()
for r in "${runs[@]}"; do
  case $r in
    rotate) run rotate yes || failed+=(rotate) ;;
    restart) run restart no -R "$restart_lines" || failed+=(restart) ;;
    replace) run replace yes -u || failed+=(replace) ;;
    *) echo "soak: unknown run: $r" >&2; exit 2 ;;
  esac
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "soak: runs that missed the goal: ${failed[*]}"
  exit 1
fi
echo "soak: every run met the goal: ${runs[*]}"
