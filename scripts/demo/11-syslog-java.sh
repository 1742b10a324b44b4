#!/usr/bin/env bash
# Demonstration of the Java face of the system log library: a Java program
# compiled against the installed jar, loading the installed library.
set -euo pipefail
prefix=$1 build=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
jar="$prefix/share/java/zolklib2.jar"
javahome=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}

"$javahome/bin/javac" -d "$tmp" -cp "$jar" "$root/examples/SysLogExample.java"
run=("$javahome/bin/java" -cp "$jar:$tmp" -Djava.library.path="$prefix/lib" SysLogExample)
echo "examples/SysLogExample.java, run against $jar and $prefix/lib/libzolk2sys_r.so:"
capture="$build/support/devlog/zolk-devlog-capture"
if [ -x "$capture" ] && "$capture" true 2>/dev/null; then
  "$capture" "${run[@]}"
else
  echo "  (no private /dev/log here: the messages go to this machine's system log)"
  "${run[@]}"
fi
