#!/usr/bin/env bash
# Shows: Java writing traces through the bridge libzolk2sj while zolk2tail follows the set
# Demonstration of the Java trace bridge and the trace follower: a Java
# program writes 700 messages through ZolkJniTrace, the bridge and the
# stand-in core into a set of four 8 KiB trace files, while zolk2tail
# follows the set from its first file through the rotation.
set -euo pipefail
prefix=$1 build=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
trap 'kill "${tail_pid:-}" 2>/dev/null || true; rm -rf "$tmp"' EXIT
jar="$prefix/share/java/zolklib2.jar"
javahome=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
core="$build/support/zolk2t"
if [ ! -e "$core/libzolk2t.so" ]; then
  echo "(skipped: the stand-in core $core/libzolk2t.so was not built)"
  exit 0
fi
echo "core library: the stand-in of the build tree ($core); a real core is found in /opt/quorvex/common/lib"

"$javahome/bin/javac" -d "$tmp/classes" -cp "$jar" "$root/examples/TraceExample.java"
mkdir "$tmp/trc"
# The set must exist before zolk2tail can follow it: the writer makes it at
# once, zolk2tail waits until its management file holds a record.
LD_LIBRARY_PATH=$core "$javahome/bin/java" -cp "$jar:$tmp/classes" -Djava.library.path="$prefix/lib" \
  TraceExample "$tmp/trc" 700 4 &
writer=$!
for _ in $(seq 50); do [ -s "$tmp/trc/mmap/demo.mm" ] && break; sleep 0.1; done
"$prefix/bin/zolk2tail" -a -i 50 "$tmp/trc/demo1.log" >"$tmp/followed.txt" 2>"$tmp/tail.err" &
tail_pid=$!
wait "$writer"
sleep 0.5   # a few polls more, then stop the follower as an operator would
kill -INT "$tail_pid"; wait "$tail_pid" || true; tail_pid=
echo "zolk2tail -a $tmp/trc/demo1.log printed $(wc -l <"$tmp/followed.txt") lines while the set rotated:"
head -3 "$tmp/followed.txt" | sed 's/^/  /'
echo "  ..."
tail -2 "$tmp/followed.txt" | sed 's/^/  /'
[ -s "$tmp/tail.err" ] && sed 's/^/  stderr: /' "$tmp/tail.err"
echo "files of the set: $(cd "$tmp/trc" && ls demo*.log | tr '\n' ' ')"
