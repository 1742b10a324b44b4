# Lists the tests of a CTest run that skipped, each with its reason, from
# Testing/Temporary/LastTest.log: a GoogleTest skip prints "file:line:
# Skipped" and then the reason; the script tests print "skipped: reason".
/^[0-9]+\/[0-9]+ Test: / { name = $3; reason = ""; grab = 0; skipped = 0; next }
grab == 1 { reason = $0; grab = 0; next }
/: Skipped$/ { grab = 1; next }
/^skipped: / { reason = substr($0, 10); skipped = 1; next }
/^\[  SKIPPED \] [^ ]+ \(/ { skipped = 1; next }
/^<end of output>/ {
  if (skipped) { printf "  skipped: %s: %s\n", name, (reason == "" ? "(no reason given)" : reason); n++ }
  skipped = 0
}
END { if (n == 0) print "  no test skipped"; else printf "  %d test(s) skipped\n", n }
