#!/usr/bin/env bash
# Builds the toolkit (Release), installs it into PREFIX and runs a short
# demonstration of each installed deliverable.
#
#   scripts/install.sh [PREFIX]      (default /opt/quorvex/ZOLKLib2)
#
# The demonstration steps are scripts/demo/NN-*.sh, run in order with the
# prefix and the build directory as arguments.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=${1:-/opt/quorvex/ZOLKLib2}
source "$root/scripts/deps.sh"
source "$root/scripts/quiet.sh"
zolk_require_packages "${ZOLK_BUILD_PACKAGES[@]}"

dir="$root/build/install"
echo "=== build (Release, in $dir; the output goes to configure.log and build.log there)"
started=$SECONDS
zolk_quietly "$dir/configure.log" cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DZOLK_BUILD_TESTS=OFF -DCMAKE_INSTALL_PREFIX="$prefix"
zolk_quietly "$dir/build.log" cmake --build "$dir" -j "${JOBS:-$(nproc)}"
echo "built in $((SECONDS - started)) s"
zolk_quietly "$dir/install.log" cmake --install "$dir"
# What went where, one line per directory; the versions of a shared library
# (.so, .so.2, .so.2.3) as one name.
files=$(sed -n 's/^-- \(Installing\|Up-to-date\): //p; s/^-- Keeping existing: \(.*\)/\1 (kept as it was)/p' \
          "$dir/install.log" | while read -r f; do [ -d "$f" ] || echo "${f#"$prefix"/}"; done)
echo "=== installed $(wc -l <<<"$files") files into $prefix (list: $dir/install.log)"
awk '{ d = $0; sub(/[^\/]*$/, "", d); f = substr($0, length(d) + 1); sub(/\.so(\.[0-9]+)*$/, ".so*", f)
       if (!((d, f) in seen)) { seen[d, f]; names[d] = names[d] " " f } }
     END { for (d in names) printf "  %-22s%s\n", (d == "" ? "./" : d), names[d] }' <<<"$files" | sort

started=$SECONDS
for step in "$root"/scripts/demo/[0-9]*.sh; do
  [ -e "$step" ] || continue
  echo "=== demonstration: $(basename "$step" .sh | sed 's/^[0-9]*-//')"
  sed -n 's/^# Shows: /    shows: /p' "$step"
  bash "$step" "$prefix" "$dir"
done
echo "=== demonstrations done in $((SECONDS - started)) s"
