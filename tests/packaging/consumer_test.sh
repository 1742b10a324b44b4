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

echo "--- CMake consumer"
cmake -S "$here/consumer" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
"$work/cmake/consumer_r" && "$work/cmake/consumer_st"

echo "--- pkg-config consumer"
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
for lib in zolk2sys_r zolk2sys; do
  # shellcheck disable=SC2046
  cc -Wall -Werror -o "$work/pc_$lib" "$here/consumer/consumer.c" $(pkg-config --cflags --libs $lib zolk2trap)
  LD_LIBRARY_PATH=$prefix/lib "$work/pc_$lib" >/dev/null
done
echo "pkg-config builds ran"

echo "--- Java consumer"
javahome=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
"$javahome/bin/javac" -d "$work/java" -cp "$prefix/share/java/zolklib2.jar" "$here/consumer/Consumer.java"
for lib in zolk2sys_r zolk2sys; do
  out=$("$javahome/bin/java" -Xcheck:jni -cp "$prefix/share/java/zolklib2.jar:$work/java" \
          -Djava.library.path="$prefix/lib" -Dpelvar.zolklib2.syslog.library=$lib Consumer 2>&1)
  echo "$out"
  if grep -qi warning <<<"$out"; then echo "the virtual machine warned"; exit 1; fi
done
