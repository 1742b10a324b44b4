#!/usr/bin/env bash
# Shows: messages of two system log instances from a C program, as the system log receives them, then forwarded to a collector
# Demonstration of the system log library: its exported interface, and a C
# program built against the installed header and library, whose messages are
# shown as the system log receives them; then the same messages as a central
# collector receives them over TCP from the local daemon.
set -euo pipefail
prefix=$1 build=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/demo/lib.sh"
export ZOLK_DEMO_BUILD=$build
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

exported=$(nm -D --defined-only "$prefix/lib/libzolk2sys_r.so" | grep -c ' ZOLK2_' || true)
echo "$prefix/lib/libzolk2sys_r.so exports $exported C names (ZOLK2_*, described in zolk2sys(3))"

cc -Wall -Wextra -o "$tmp/syslog_example" "$root/examples/syslog_example.c" \
   -I"$prefix/include" -L"$prefix/lib" -Wl,-rpath,"$prefix/lib" -lzolk2sys_r
echo "examples/syslog_example.c, built against $prefix:"
# Line by line, so that each message shows under the result of its call.
zolk_demo_syslog stdbuf -oL "$tmp/syslog_example"
echo "the same program, its daemon forwarding everything over TCP to a central collector:"
zolk_demo_syslog --forward stdbuf -oL "$tmp/syslog_example"
