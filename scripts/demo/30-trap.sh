#!/usr/bin/env bash
# Shows: a C program reading a trace set with libzolk2trap while files rotate
# Demonstration of the trace file reader: the trace writer of the build tree
# writes a small rotating set, and a C program built against the installed
# header and library follows the first file to its end.
#
#   scripts/demo/30-trap.sh PREFIX BUILD-DIR
set -euo pipefail
prefix=$1
build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/support/tracewriter/zolk_tracewriter" -d "$work" -p demo -s 4096 -n 3 -g 90 -l 58

cat > "$work/follow.c" <<'C'
#include <stdio.h>
#include <zolk2trap.h>

int main(int argc, char **argv)
{
    char line[256];
    unsigned lines = 0;
    ZOLK2_MptTrap_t *t = ZOLK2_MpttCreateInstance(argv[argc - 1]);
    if (t == NULL || ZOLK2_MpttOpenManagementFile(t) != 0 || ZOLK2_MpttOpen(t) != 0) {
        fprintf(stderr, "cannot open %s: error %d\n", argv[argc - 1], ZOLK2_MpttGetLastError(t));
        return 1;
    }
    printf("readable end of %s: %d\n", argv[argc - 1], ZOLK2_MpttGetCurrentOffset(t));
    while (ZOLK2_MpttGetLine(t, line, sizeof line) > 0) {
        if (lines++ < 2)
            printf("  %s", line);
    }
    printf("  ... %u lines\n", lines);
    ZOLK2_MpttClose(t);
    ZOLK2_MpttCloseManagementFile(t);
    ZOLK2_MpttDeleteInstance(t);
    return 0;
}
C
cc -o "$work/follow" "$work/follow.c" -I"$prefix/include" -L"$prefix/lib" -lzolk2trap \
   -Wl,-rpath,"$prefix/lib"
"$work/follow" "$work/demo1.log"
"$work/follow" "$work/demo2.log"
