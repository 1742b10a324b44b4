#!/usr/bin/env bash
# Shows: zolk2conf setting and zolk2getconf reading the trace configuration file
# Demonstration of zolk2conf and zolk2getconf: set two sizes and read them
# back. The commands only ever use /opt/quorvex/ZOLKLib2/etc/D002zolk2.cnf,
# so where the machine allows it the demonstration runs in a private mount
# namespace over a copy of the installed default file, leaving the host's
# configuration untouched; elsewhere it only reads.
#
#   scripts/demo/20-conf.sh PREFIX BUILD-DIR
set -euo pipefail
prefix=$1
conf=/opt/quorvex/ZOLKLib2/etc/D002zolk2.cnf

if [ "$(id -u)" -eq 0 ] && unshare --mount true 2>/dev/null; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  # The programs may themselves live under /opt, which the tmpfs hides.
  cp "$prefix/bin/zolk2conf" "$prefix/bin/zolk2getconf" "$prefix/etc/D002zolk2.cnf" "$work/"
  unshare --mount --propagation private bash -euc '
    work=$1 conf=$2
    mount -t tmpfs zolkdemo /opt
    mkdir -p "$(dirname "$conf")"
    cp "$work/D002zolk2.cnf" "$conf"
    echo "\$ zolk2getconf -b -s        # the installed defaults, in KB"
    "$work/zolk2getconf" -b -s
    echo "\$ zolk2conf -b 512 -s 128 -l $work/run.log"
    "$work/zolk2conf" -b 512 -s 128 -l "$work/run.log"; echo "exit status $?"
    echo "\$ zolk2getconf -bs"
    "$work/zolk2getconf" -bs
    echo "\$ zolk2conf -s 1024         # larger than the log file size"
    "$work/zolk2conf" -s 1024 2>&1 || echo "exit status $?"
    echo "\$ cat $conf"
    cat "$conf"
    echo "\$ cat $work/run.log"
    cat "$work/run.log"
  ' demo "$work" "$conf"
else
  echo "(no private mount namespace here (needs root and unshare), so $conf"
  echo " is not changed: the options zolk2conf takes, and the values the file holds now)"
  echo "\$ zolk2conf -h"
  "$prefix/bin/zolk2conf" -h | awk '/^-/ {opt = $0; getline; sub(/^ +/, ""); printf "  %-26s %s\n", opt, $0}'
  if [ -f "$conf" ]; then
    echo "\$ zolk2getconf -fbnswim"
    "$prefix/bin/zolk2getconf" -fbnswim || echo "exit status $?"
  else
    echo "($conf does not exist: install into /opt/quorvex/ZOLKLib2 to create it)"
  fi
fi
