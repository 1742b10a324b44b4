#!/usr/bin/env bash
# Installs the build tree into a fresh prefix and builds three consumers
# against it alone: a CMake project (find_package), a pkg-config build, and
# a Java program on the installed jar. Each must build and run.
#
#   consumer_test.sh BUILD-DIR SOURCE-DIR
set -euo pipefail
build=$1 here=$2/tests/packaging
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in lib/libzolk2sys_r.so lib/libzolk2sys.so.2 lib/libzolk2trap.so.2.3 include/zolk2sys.h \
         share/java/zolklib2.jar lib/cmake/ZolkLib2/ZolkLib2Config.cmake lib/pkgconfig/zolk2trap.pc \
         share/man/man3/zolk2sys.3 share/man/man3/zolk2trap.3 etc/D002zolk2.cnf; do
  [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
[ "$(objdump -p "$prefix/lib/libzolk2sys_r.so.2.3" | awk '$1 == "SONAME" {print $2}')" = libzolk2sys_r.so.2 ] \
  || { echo "wrong SONAME"; exit 1; }

quiet() { local out; out=$("$@" 2>&1) || { echo "$out"; return 1; }; }

echo "--- CMake consumer"
quiet cmake -S "$here/consumer" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix"
quiet cmake --build "$work/cmake"
"$work/cmake/consumer_r" && "$work/cmake/consumer_st"
if out=$(cmake -S "$here/consumer" -B "$work/cmake-bad" -DCMAKE_PREFIX_PATH="$prefix" \
               -DZOLK_COMPONENTS="zolk2trap;zolk2bogus" 2>&1) ||
   ! grep -q "no component zolk2bogus" <<<"$out"; then
  echo "$out"; echo "an unknown component was not named"; exit 1
fi

echo "--- pkg-config consumer and the README's C examples"
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
# The README's build line, continuation lines joined; every example builds
# with it and without warnings, and runs from its run path alone.
build_line=$(awk '/^cc -o app app\.c/ { take = 1 }
                  take { more = /\\$/; sub(/\\$/, ""); printf "%s", $0; if (!more) exit }' "$2/README.md")
[ -n "$build_line" ] || { echo "README.md has no cc -o app line"; exit 1; }
cc() { command cc -Wall -Wextra -Werror "$@"; }
build_app() {  # SOURCE DIR [BUILD-LINE]
  mkdir -p "$2" && cp "$1" "$2/app.c" && (cd "$2" && eval "${3:-$build_line}")
}
for lib in zolk2sys_r zolk2sys; do
  build_app "$here/consumer/consumer.c" "$work/pc_$lib" "${build_line//zolk2sys_r/$lib}"
  out=$("$work/pc_$lib/app")
  [ "${out%%$'\n'*}" = "$(pkg-config --modversion zolk2sys_r)" ] \
    || { echo "the headers' version is not the package's"; exit 1; }
done
mkdir "$work/readme"
awk -v dir="$work/readme" '
  /^```/ { file = ""
           if (!inside && ($0 == "```c" || $0 == "```java")) file = dir "/" substr($0, 4) "_" (NR + 1)
           inside = !inside; next }
  file != "" { print > file }' "$2/README.md"
# Each C example is a whole program; it writes to the system log, so it runs
# only where it can have a private /dev/log.
for example in "$work"/readme/c_*; do
  build_app "$example" "$example.d" \
    || { echo "README.md:${example##*_}: the example does not build"; exit 1; }
  [ "$(id -u)" != 0 ] || "$build/support/devlog/zolk-devlog-capture" "$example.d/app" >/dev/null \
    || { echo "README.md:${example##*_}: the example failed"; exit 1; }
done
echo "pkg-config builds and the README's C examples ran"

echo "--- Java consumer"
javahome=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
# The README's Java examples are statements: each goes into a method of its
# own class (in java_N.java for the example on line N), its imports before it.
for example in "$work"/readme/java_*; do
  { sed -n '/^import /p' "$example"
    echo "class Example${example##*_} { static void run() throws Exception {"
    sed '/^import /d' "$example"; echo "} }"; } >"$example.java"
done
"$javahome/bin/javac" -d "$work/java" -cp "$prefix/share/java/zolklib2.jar" "$here/consumer/Consumer.java" \
  "$work"/readme/java_*.java
for lib in zolk2sys_r zolk2sys; do
  out=$("$javahome/bin/java" -Xcheck:jni -cp "$prefix/share/java/zolklib2.jar:$work/java" \
          -Djava.library.path="$prefix/lib" -Dpelvar.zolklib2.syslog.library=$lib Consumer 2>&1)
  echo "$out"
  if grep -qi warning <<<"$out"; then echo "the virtual machine warned"; exit 1; fi
done
