#!/usr/bin/env bash
# Shows: the same library from Java: ZolkSystemLog and ZolkSystemOperation writing to the system log
# Demonstration of the Java face of the system log library: a Java program
# compiled against the installed jar, loading the installed library.
set -euo pipefail
prefix=$1 build=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/demo/lib.sh"
export ZOLK_DEMO_BUILD=$build
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
jar="$prefix/share/java/zolklib2.jar"
javahome=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}

"$javahome/bin/javac" -d "$tmp" -cp "$jar" "$root/examples/SysLogExample.java"
echo "examples/SysLogExample.java, run against $jar and $prefix/lib/libzolk2sys_r.so:"
zolk_demo_syslog "$javahome/bin/java" -cp "$jar:$tmp" -Djava.library.path="$prefix/lib" SysLogExample
