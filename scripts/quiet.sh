# Sourced by the other scripts: runs a long, chatty step with its output in a
# log file, and shows that output only when the step fails.

# zolk_quietly LOG COMMAND [ARG...]: on failure prints what COMMAND printed,
# without ninja's "[n/m]" progress lines (the first 200 lines of it: the
# first error is the one to read), and returns COMMAND's status.
zolk_quietly() {
  local log=$1 status=0
  shift
  mkdir -p "$(dirname "$log")"
  "$@" >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    grep -v '^\[[0-9]*/[0-9]*\] ' "$log" | head -n 200 >&2 || true
    echo "failed (status $status): $* (whole output: $log)" >&2
  fi
  return "$status"
}
