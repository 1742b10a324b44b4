# Sourced by the demonstration steps.

# Runs a command whose system log messages are to be shown, and says where
# they went: a private /dev/log that prints them (root, mount namespace),
# else this machine's system log, else nowhere.
zolk_demo_syslog() {
  local capture="$ZOLK_DEMO_BUILD/support/devlog/zolk-devlog-capture"
  if [ -x "$capture" ] && "$capture" true 2>/dev/null; then
    echo "  sink: a private /dev/log in a mount namespace; each message received shows under the next output line"
    "$capture" "$@"
  elif [ -S /dev/log ]; then
    echo "  sink: this machine's system log (/dev/log); no private /dev/log here (needs root and unshare)"
    "$@"
  else
    echo "  sink: none: this machine has no /dev/log and no private one can be made; the messages are dropped"
    "$@"
  fi
}
