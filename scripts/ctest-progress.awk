# Turns CTest's console output into a short progress: one line per test,
# "12/331 name: Passed 0.02 s", without the "Start" lines, the dot padding,
# GoogleTest's "# GetParam() = ..." and the time per label; with tty=1 (a
# terminal of cols columns) a test that passes only rewrites one status
# line. Every other line - the output of a failed test, the summary -
# passes as it is, so nothing is hidden. At the end writes to the file
# counts: tests, failed, and the failed names.
function clear() { if (status) { printf "\r\033[K"; status = 0 } }
/^ +Start +[0-9]+: / || /^Internal ctest changing into directory/ || /^Test project / { next }
/^Label Time Summary:$/ { labels = 1; next }
labels { if ($0 == "") labels = 0; next }
/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: .* sec$/ {
  progress = $1
  rest = $0
  sub(/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: /, "", rest)
  match(rest, / +[0-9.]+ sec$/)
  time = substr(rest, RSTART, RLENGTH)
  rest = substr(rest, 1, RSTART - 1)
  sub(/^ +/, "", time); sub(/ sec$/, " s", time)
  if (match(rest, / \.+(   |\*\*\*)/)) {
    name = substr(rest, 1, RSTART - 1)
    sub(/  # GetParam\(\) = .*$/, "", name)  # the parameter is in the name already
    result = substr(rest, RSTART + RLENGTH)
    sub(/^ +/, "", result)
    tests++
    if (result !~ /^(Passed|Skipped)/) { failed++; names = names (failed > 1 ? ", " : "") name }
    line = progress " " name ": " result " " time
    if (tty && result ~ /^Passed/) {
      if (length(line) >= cols) line = substr(line, 1, cols - 4) "..."
      printf "\r\033[K%s", line
      status = 1
    } else {
      clear()
      print line
    }
    fflush()
    next
  }
}
{ clear(); print; fflush() }
END {
  clear()
  if (counts != "") printf "%d\t%d\t%s\n", tests, failed, names > counts
}
