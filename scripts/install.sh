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
zolk_require_packages "${ZOLK_BUILD_PACKAGES[@]}"

dir="$root/build/install"
echo "=== build"
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DZOLK_BUILD_TESTS=OFF -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
cmake --build "$dir" -j "${JOBS:-$(nproc)}"
echo "=== install into $prefix"
cmake --install "$dir" | sed -n 's/^-- Installing: /installed: /p; s/^-- Up-to-date: /up to date: /p'

started=$SECONDS
for step in "$root"/scripts/demo/[0-9]*.sh; do
  [ -e "$step" ] || continue
  echo "=== demonstration: $(basename "$step" .sh | sed 's/^[0-9]*-//')"
  sed -n 's/^# Shows: /    shows: /p' "$step"
  bash "$step" "$prefix" "$dir"
done
echo "=== demonstrations done in $((SECONDS - started)) s"
