#!/usr/bin/env bash
# Builds the toolkit (Release, with Debian's hardening flags) and makes its
# Debian packages with CPack:
#
#   libzolklib2-2     the shared libraries, the configuration file (a conffile:
#                     an operator's edits survive upgrades), the loader entry
#   libzolklib2-dev   headers, .so links, pkg-config files, CMake package, man3
#   libzolklib2-java  the jar, its Javadoc and sources, the JNI links
#   zolklib2-tools    zolk2conf, zolk2getconf, zolk2tail, their man pages
#
#   scripts/package.sh [OUTPUT-DIR [BUILD-DIR]]   (default build/package, build/release)
#
# Everything goes under /opt/quorvex/ZOLKLib2; links under /usr put the
# commands on PATH and their pages in reach of man.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$root/build/package}")
dir=$(realpath -m "${2:-$root/build/release}")
source "$root/scripts/deps.sh"
zolk_require_packages "${ZOLK_BUILD_PACKAGES[@]}"

# Debian's flags: fortify, stack protector, RELRO and BIND_NOW (programs are
# PIE through the tree's own settings). Given on the command line, not only
# through the environment, so that a build tree configured before takes them
# too; CMake never reads CPPFLAGS, hence their place in the compile flags.
eval "$(cd "$root" && DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
export CFLAGS CXXFLAGS CPPFLAGS LDFLAGS
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZOLK_BUILD_TESTS=OFF \
      -DCMAKE_C_FLAGS="$CFLAGS $CPPFLAGS" -DCMAKE_CXX_FLAGS="$CXXFLAGS $CPPFLAGS" \
      -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" -DCMAKE_SHARED_LINKER_FLAGS="$LDFLAGS" >/dev/null
log="$dir/build.log"
cmake --build "$dir" -j "${JOBS:-$(nproc)}" >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
mkdir -p "$out" && rm -f "$out"/*.deb
(cd "$dir" && cpack -B "$out" >"$dir/cpack.log" 2>&1) || { cat "$dir/cpack.log" >&2; exit 1; }
rm -rf "$out/_CPack_Packages"
echo "packages in $out:"
for deb in "$out"/*.deb; do
  dpkg-deb --show --showformat '  ${Package} ${Version}: ${Depends}\n' "$deb"
done
