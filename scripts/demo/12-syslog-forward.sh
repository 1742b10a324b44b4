#!/usr/bin/env bash
# Shows: the same program's messages forwarded over TCP by the local daemon to a central collector
# Demonstration of an installation beyond one host: the local rsyslogd
# forwards every message over TCP to a second rsyslogd, the collector, and
# what the collector wrote is shown. Both run privately (a network namespace
# of their own, the collector on its loopback address).
set -euo pipefail
prefix=$1 build=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/demo/lib.sh"
export ZOLK_DEMO_BUILD=$build
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

cc -Wall -Wextra -o "$tmp/syslog_example" "$root/examples/syslog_example.c" \
   -I"$prefix/include" -L"$prefix/lib" -Wl,-rpath,"$prefix/lib" -lzolk2sys_r
echo "examples/syslog_example.c again, its daemon forwarding to the collector:"
zolk_demo_syslog --forward stdbuf -oL "$tmp/syslog_example"
