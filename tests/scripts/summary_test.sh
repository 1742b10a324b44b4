#!/usr/bin/env bash
# scripts/test.sh stops at the first configuration that fails, with its
# status, and still names every configuration in its summary, the ones not
# run included. An unknown name fails at once, so nothing is built.
out=$("$1/scripts/test.sh" bogus normal 2>&1)
rc=$?
expected=$'=== summary\n  bogus   failed\n  normal  not run'
if [ "$rc" = 2 ] && [[ "$out" == *"$expected"* ]]; then exit 0; fi
printf 'status %s, output:\n%s\n' "$rc" "$out"
exit 1
