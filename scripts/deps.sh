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
  # One line on the screen; apt's own output goes to a log, shown only when
  # the installation fails.
  local log="${TMPDIR:-/tmp}/zolk-apt.log"
  echo "installing Debian packages: ${missing[*]} (details: $log)"
  # Another installation running (an unattended upgrade, a second script)
  # holds dpkg's lock for a while: wait for it rather than fail.
  local wait=(-o DPkg::Lock::Timeout=600)
  if ! { apt-get "${wait[@]}" update &&
         DEBIAN_FRONTEND=noninteractive apt-get "${wait[@]}" install -y "${missing[@]}"; } >"$log" 2>&1; then
    cat "$log" >&2
    echo "installing ${missing[*]} failed (log: $log)" >&2
    return 1
  fi
}

# What building and testing the tree needs.
# dpkg-dev (hardening flags, dependencies), file (CPack's look at the binaries)
# and lintian serve the Debian packages and their test; rsyslog is the system
# log daemon the end-to-end tests and the demonstration run, each its own in
# private namespaces, leaving alone any daemon the machine runs.
ZOLK_BUILD_PACKAGES=(cmake ninja-build g++ libgtest-dev libgmock-dev man-db pkgconf openjdk-17-jdk-headless
                     dpkg-dev file lintian rsyslog)
ZOLK_BENCH_PACKAGES=(libbenchmark-dev)
# The fuzz build (clang with libFuzzer); the tests' replays of the fuzz inputs
# take FuzzedDataProvider.h from the same package.
ZOLK_FUZZ_PACKAGES=(clang-14 libclang-rt-14-dev)
