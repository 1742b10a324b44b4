#!/usr/bin/env bash
# Shows: log file cleanup keeping the newest files and sparing a locked one
# Demonstration of the log file cleanup: ten log files a day apart, of which
# the three newest are kept and the others deleted - except an old one that
# another process holds locked, and a file that does not match the pattern.
set -euo pipefail
prefix=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/logs"
for i in $(seq 1 10); do touch -d "$((11 - i)) days ago" "$tmp/logs/app$i.log"; done
touch -d "30 days ago" "$tmp/logs/other.txt"

cc -Wall -Wextra -o "$tmp/cleanup_example" "$root/examples/cleanup_example.c" \
   -I"$prefix/include" -L"$prefix/lib" -Wl,-rpath,"$prefix/lib" -lzolk2sys
echo "before: $(cd "$tmp/logs" && ls -tr | tr '\n' ' ')(oldest first)"
"$tmp/cleanup_example" "$tmp/logs/app*.log" 3 "$tmp/logs/app2.log"
echo "after:  $(cd "$tmp/logs" && ls -tr | tr '\n' ' ')"
