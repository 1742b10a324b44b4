#!/usr/bin/env bash
# Builds the toolkit (Release) and makes its Debian package with CPack.
#
#   scripts/package.sh [OUTPUT-DIR]      (default build/package)
#
# Install it with `dpkg -i zolklib2_<version>_amd64.deb`: everything goes
# under /opt/quorvex/ZOLKLib2, the configuration file is a conffile (an
# operator's edits survive upgrades), and /etc/ld.so.conf.d/zolklib2.conf
# lets programs find the libraries.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build/package}
source "$root/scripts/deps.sh"
zolk_require_packages "${ZOLK_BUILD_PACKAGES[@]}"

dir="$root/build/release"
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZOLK_BUILD_TESTS=OFF >/dev/null
cmake --build "$dir" -j "${JOBS:-$(nproc)}"
mkdir -p "$out"
(cd "$dir" && cpack -B "$out" >/dev/null)
rm -rf "$out/_CPack_Packages"
deb=$(ls -t "$out"/zolklib2_*.deb | head -1)
echo "package: $deb"
dpkg-deb --info "$deb" | sed -n 's/^ \(Package\|Version\|Depends\|Installed-Size\):/  \1:/p'
