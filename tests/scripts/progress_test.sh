#!/usr/bin/env bash
# scripts/ctest-progress.awk shortens CTest's output to one line per test
# but lets through everything it does not know, a failed test's output
# above all, and counts the tests and the failures.
awk=$1/scripts/ctest-progress.awk
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
tab=$'\t'
ctest_output="Test project /b
      Start  1: a.ok
      Start 12: a.crash
 1/3 Test  #1: a.ok .............................   Passed    0.02 sec
 2/3 Test #12: a.crash ..........................***Exception: SegFault  0.10 sec
[ RUN      ] A.crash
an unrecognised line
 3/3 Test  #3: b.skip ...........................***Skipped   0.01 sec

67% tests passed, 1 tests failed out of 3

Label Time Summary:
zolksys    =   0.02 sec*proc (1 test)

Total Test time (real) =   0.13 sec"
compact="1/3 a.ok: Passed 0.02 s
2/3 a.crash: Exception: SegFault 0.10 s
[ RUN      ] A.crash
an unrecognised line
3/3 b.skip: Skipped 0.01 s

67% tests passed, 1 tests failed out of 3

Total Test time (real) =   0.13 sec"
# On a terminal a passing test is a status line, cleared before the next line.
on_terminal=$(sed '/^1\/3 /d' <<<"$compact")
status=0
for tty in 0 1; do
  out=$(awk -v tty=$tty -v cols=80 -v counts="$tmp/counts" -f "$awk" <<<"$ctest_output" |
        sed $'s/\r\e\\[K[^\r]*\r\e\\[K//g')
  expected=$compact
  [ "$tty" = 1 ] && expected=$on_terminal
  if [ "$out" != "$expected" ] || [ "$(cat "$tmp/counts")" != "3${tab}1${tab}a.crash" ]; then
    printf 'tty=%s: output:\n%s\ncounts: %s\n' "$tty" "$out" "$(cat "$tmp/counts")"
    status=1
  fi
done
exit $status
