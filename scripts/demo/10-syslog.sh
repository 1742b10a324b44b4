#!/usr/bin/env bash
# Demonstration of the system log library: its exported interface, and a C
# program built against the installed header and library, whose messages are
# captured at a private /dev/log where this machine allows it.
set -euo pipefail
prefix=$1 build=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

echo "exported by $prefix/lib/libzolk2sys_r.so:"
nm -D --defined-only "$prefix/lib/libzolk2sys_r.so" | awk '$3 ~ /^ZOLK2_/ {print "  " $3}'

cc -Wall -Wextra -o "$tmp/syslog_example" "$root/examples/syslog_example.c" \
   -I"$prefix/include" -L"$prefix/lib" -Wl,-rpath,"$prefix/lib" -lzolk2sys_r
echo "examples/syslog_example.c, built against $prefix:"
capture="$build/support/devlog/zolk-devlog-capture"
if [ -x "$capture" ] && "$capture" true 2>/dev/null; then
  "$capture" "$tmp/syslog_example"
else
  echo "  (no private /dev/log here: the messages go to this machine's system log)"
  "$tmp/syslog_example"
fi
