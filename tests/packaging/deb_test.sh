#!/usr/bin/env bash
# The Debian packages as scripts/package.sh makes them: lintian finds no tag
# beyond tests/packaging/lintian-allowed, and their life on a fresh root:
# install (the Java natives load with the runtime and Java packages alone),
# upgrade over themselves with an operator's edit of the configuration file,
# remove, purge; the files are checked after each step. Runs in a private
# mount namespace with overlays on /usr, /opt, /etc and /var (and an empty
# /opt/quorvex), so the machine's own stay untouched.
#
#   deb_test.sh BUILD-DIR        (root; exits 77, skipped, where it cannot run)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
packages=(zolklib2-tools libzolklib2-java libzolklib2-dev libzolklib2-2)

inside() {
  local out=$1 work=$2 release=$3 d
  mkdir -p /opt
  for d in /usr /etc /var /opt; do
    mkdir -p "$work/ov$d/upper" "$work/ov$d/work"
    mount -t overlay zolkdeb -o "lowerdir=$d,upperdir=$work/ov$d/upper,workdir=$work/ov$d/work" "$d"
  done
  # Whatever the machine has installed under /opt/quorvex stays out of it.
  if [ -d /opt/quorvex ]; then mount -t tmpfs zolkdeb /opt/quorvex; fi
  local base=/opt/quorvex/ZOLKLib2 conf=/opt/quorvex/ZOLKLib2/etc/D002zolk2.cnf p
  fail() { echo "FAILED: $*"; exit 1; }
  status() { dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null || true; }
  # Minimal images tell dpkg to leave out manual pages (path-exclude in
  # /etc/dpkg/dpkg.cfg.d); the check of the pages wants them in.
  deb_install() { dpkg --path-include='/usr/share/man/*' -i "$@" >/dev/null </dev/null; }

  echo "--- each component installed into a prefix writes nothing outside it"
  for p in runtime dev java tools; do
    cmake --install "$release" --prefix "$work/prefix" --component "$p" >/dev/null
  done
  [ -z "$(find "$work/ov/usr/upper" "$work/ov/etc/upper" -mindepth 1 -print -quit)" ] \
    || fail "a component's install wrote outside its prefix"

  echo "--- install the runtime and Java packages: the natives load by name"
  deb_install "$out"/libzolklib2-2_*.deb "$out"/libzolklib2-java_*.deb
  # (grep -q would end ldconfig with SIGPIPE, which pipefail counts as a failure)
  grep -q "libzolk2sys_r.so.2 .*$base/lib" <<<"$(ldconfig -p)" || fail "ldconfig did not run"
  printf '%s\n' 'class P { public static void main(String[] a) {' \
    'pelvar.zolklib2.ZolkNativeLibrary.loadSysLog(); pelvar.zolklib2.ZolkNativeLibrary.load("zolk2sys"); } }' \
    > "$work/P.java"
  java -cp /usr/share/java/zolklib2.jar "$work/P.java" || fail "the natives do not load"

  echo "--- install all"
  deb_install "$out"/*.deb
  for p in "${packages[@]}"; do
    [ "$(status "$p")" = "ii " ] || fail "$p not installed: $(status "$p")"
  done
  printf '#include <zolk2sys.h>\nint main(void){return ZOLK2_SysLogErrApi(1) != 1;}\n' > "$work/p.c"
  cc -o "$work/p" "$work/p.c" -I"$base/include" -L"$base/lib" -lzolk2sys_r && "$work/p" \
    || fail "a program does not find the library through the loader entry"
  [ "$(command -v zolk2tail)" = /usr/bin/zolk2tail ] && grep -q 2.3 <<<"$(zolk2tail --version)" \
    || fail "zolk2tail --version through PATH"
  for p in zolk2tail zolk2conf zolk2getconf; do
    MANPATH= man -w "$p" >/dev/null || fail "man finds no page of $p"
  done

  echo "--- upgrade over itself, with the configuration edited"
  zolk2conf -b 512 >/dev/null
  local edited
  edited=$(cat "$conf")
  deb_install "$out"/*.deb
  [ "$(cat "$conf")" = "$edited" ] || fail "the operator's configuration was replaced"
  [ "$(zolk2getconf -b)" = 512 ] || fail "zolk2getconf does not read the edit"

  echo "--- remove"
  for p in "${packages[@]}"; do dpkg -r "$p" >/dev/null; done
  for f in "$base/lib/libzolk2sys_r.so.2" /usr/bin/zolk2tail /usr/share/java/zolklib2.jar; do
    [ ! -e "$f" ] && [ ! -L "$f" ] || fail "$f left after remove"
  done
  [ -e "$conf" ] || fail "configuration file removed with the package"
  ! grep -q libzolk2sys_r <<<"$(ldconfig -p)" || fail "loader cache still lists the library"

  echo "--- purge"
  # Only the runtime package keeps files (its conffiles) after removal. dpkg's
  # complaint that /opt, a mount point here, stays is of no interest.
  dpkg -P libzolklib2-2 >/dev/null 2>&1
  [ ! -e "$conf" ] && [ ! -e /etc/ld.so.conf.d/zolklib2.conf ] || fail "conffiles left after purge"
  for p in "${packages[@]}"; do
    [ -z "$(status "$p")" ] || [ "$(status "$p")" = "un " ] || fail "$p still known to dpkg: $(status "$p")"
  done
  echo "packages install, upgrade, remove and purge: ok"
}

if [ "${1:-}" = "--inside" ]; then
  inside "$2" "$3" "$4"
  exit 0
fi
build=$(cd "$1" && pwd)
if [ "$(id -u)" -ne 0 ] || ! unshare --mount true 2>/dev/null; then
  echo "skipped: needs root and a private mount namespace"; exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bash "$here/../../scripts/package.sh" "$work/out" "$build/debian-release"

echo "--- lintian"
allowed=$(grep -v '^#' "$here/lintian-allowed" | awk '{print $1}')
lintian -I --fail-on none "$work"/out/*.deb >"$work/lintian" 2>"$work/lintian.err" \
  || { cat "$work/lintian" "$work/lintian.err"; echo "FAILED: lintian did not run"; exit 1; }
unexpected=$(awk '/^[EWIPX]: /{print $3}' "$work/lintian" | sort -u | grep -vxF "$allowed" || true)
if [ -n "$unexpected" ]; then
  grep -wF "$unexpected" "$work/lintian"
  echo "FAILED: lintian tags beyond tests/packaging/lintian-allowed"; exit 1
fi
unshare --mount --propagation private bash "$0" --inside "$work/out" "$work" "$build/debian-release"
