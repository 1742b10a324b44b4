#!/usr/bin/env bash
# The Debian package through its life: install, upgrade over itself with an
# operator's edit of the configuration file, remove, purge; the files are
# checked after each step. Runs in a private mount namespace with overlays
# on /opt, /etc and the dpkg database (and an empty /opt/quorvex), so the
# machine's own stay untouched.
#
#   deb_test.sh BUILD-DIR        (root; exits 77, skipped, where it cannot run)
set -euo pipefail

inside() {
  local deb=$1 work=$2 d
  mkdir -p /opt
  for d in /etc /var/lib/dpkg /opt; do
    mkdir -p "$work/ov$d/upper" "$work/ov$d/work"
    mount -t overlay zolkdeb -o "lowerdir=$d,upperdir=$work/ov$d/upper,workdir=$work/ov$d/work" "$d"
  done
  # Whatever the machine has installed under /opt/quorvex stays out of it.
  if [ -d /opt/quorvex ]; then mount -t tmpfs zolkdeb /opt/quorvex; fi
  local base=/opt/quorvex/ZOLKLib2 conf=/opt/quorvex/ZOLKLib2/etc/D002zolk2.cnf
  fail() { echo "FAILED: $*"; exit 1; }
  status() { dpkg-query -W -f='${db:Status-Abbrev}' zolklib2 2>/dev/null || true; }

  echo "--- install"
  dpkg -i "$deb" >/dev/null </dev/null
  [ "$(status)" = "ii " ] || fail "not installed: $(status)"
  for f in lib/libzolk2sys_r.so.2.3 lib/libzolk2trap.so bin/zolk2conf share/java/zolklib2.jar; do
    [ -e "$base/$f" ] || fail "missing $f"
  done
  grep -qx "$base/lib" /etc/ld.so.conf.d/zolklib2.conf || fail "no loader entry"
  # (grep -q would end ldconfig with SIGPIPE, which pipefail counts as a failure)
  grep -q "libzolk2sys_r.so.2 .*$base/lib" <<<"$(ldconfig -p)" || fail "ldconfig did not run"
  # A program finds the libraries through the loader entry alone.
  printf '#include <zolk2sys.h>\nint main(void){return ZOLK2_SysLogErrApi(1) != 1;}\n' > "$work/p.c"
  cc -o "$work/p" "$work/p.c" -I"$base/include" -L"$base/lib" -lzolk2sys_r && "$work/p" \
    || fail "a program does not find the library"

  echo "--- upgrade over itself, with the configuration edited"
  "$base/bin/zolk2conf" -b 512 >/dev/null
  local edited
  edited=$(cat "$conf")
  dpkg -i "$deb" >/dev/null </dev/null
  [ "$(cat "$conf")" = "$edited" ] || fail "the operator's configuration was replaced"
  [ "$("$base/bin/zolk2getconf" -b)" = 512 ] || fail "zolk2getconf does not read the edit"

  echo "--- remove"
  dpkg -r zolklib2 >/dev/null
  [ ! -e "$base/lib/libzolk2sys_r.so.2" ] || fail "library left after remove"
  [ -e "$conf" ] || fail "configuration file removed with the package"
  ! grep -q libzolk2sys_r <<<"$(ldconfig -p)" || fail "loader cache still lists the library"

  echo "--- purge"
  dpkg -P zolklib2 >/dev/null
  [ ! -e "$conf" ] && [ ! -e /etc/ld.so.conf.d/zolklib2.conf ] || fail "conffiles left after purge"
  [ -z "$(status)" ] || [ "$(status)" = "un " ] || fail "still known to dpkg: $(status)"
  echo "package install, upgrade, remove and purge: ok"
}

if [ "${1:-}" = "--inside" ]; then
  inside "$2" "$3"
  exit 0
fi
build=$(cd "$1" && pwd)
if [ "$(id -u)" -ne 0 ] || ! unshare --mount true 2>/dev/null; then
  echo "skipped: needs root and a private mount namespace"; exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/out" >/dev/null)
deb=$(ls "$work"/out/zolklib2_*.deb)
unshare --mount --propagation private bash "$0" --inside "$deb" "$work"
