# Sourced by the other scripts: makes sure the Debian packages a step needs
# are present, installing the missing ones when running as root.

zolk_require_packages() {
  local missing=() pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' \
      || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing Debian packages: ${missing[*]} (run as root, or: apt-get install ${missing[*]})" >&2
    return 1
  fi
  echo "installing Debian packages: ${missing[*]}"
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
}

# What building and testing the tree needs.
ZOLK_BUILD_PACKAGES=(cmake ninja-build g++ libgtest-dev libgmock-dev man-db pkgconf openjdk-17-jdk-headless)
ZOLK_BENCH_PACKAGES=(libbenchmark-dev)
