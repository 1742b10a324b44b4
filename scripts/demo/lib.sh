# Sourced by the demonstration steps.

# Runs a command whose system log messages are to be shown, and says where
# they went: rsyslogd, the system's log daemon, at a private /dev/log (root,
# namespaces, Debian package rsyslog); else a private /dev/log socket that
# prints the datagrams as they arrive; else this machine's system log; else
# nowhere. With --forward, the daemon hands everything over TCP to a second
# one, the central collector, whose writing is shown.
zolk_demo_syslog() {
  local rsyslog="$ZOLK_DEMO_BUILD/support/rsyslog/zolk-rsyslog-run"
  local capture="$ZOLK_DEMO_BUILD/support/devlog/zolk-devlog-capture"
  local forward=()
  [ "${1:-}" = --forward ] && { forward=(--forward); shift; }
  local why
  if [ -x "$rsyslog" ] && why=$("$rsyslog" "${forward[@]}" true 2>&1 >/dev/null); then
    "$rsyslog" "${forward[@]}" "$@"
    return
  fi
  why=${why#*: no rsyslogd: }
  if [ ${#forward[@]} -gt 0 ]; then
    echo "  no forwarding shown: no private rsyslogd here (${why:-not built})"
    return 0
  fi
  if [ -x "$capture" ] && "$capture" true 2>/dev/null; then
    echo "  sink: a private /dev/log socket in a mount namespace (no rsyslogd: ${why:-not built});" \
         "each message received shows under the next output line"
    "$capture" "$@"
  elif [ -S /dev/log ]; then
    echo "  sink: this machine's system log (/dev/log); no private one here (needs root and unshare)"
    "$@"
  else
    echo "  sink: none: this machine has no /dev/log and no private one can be made; the messages are dropped"
    "$@"
  fi
}
