#!/usr/bin/env bash
# Writes the seed corpora of the fuzz targets into tests/fuzz/corpus/<target>/.
# Seeds are small and deterministic; scripts/fuzz.sh starts from them and
# keeps what it finds in the build tree, never here.
#
# Inputs of the command targets are the argument vector, each element ended
# by a NUL byte and the vector by an empty element, then the configuration
# file. The other targets take their values from the bytes as they come.
set -euo pipefail
export LC_ALL=C
dir=$(cd "$(dirname "$0")" && pwd)/corpus

seed() {  # seed TARGET NAME FORMAT [ARG...]: one input, written with printf
  local target=$1 name=$2
  shift 2
  mkdir -p "$dir/$target"
  # shellcheck disable=SC2059
  printf -- "$@" >"$dir/$target/$name"
}

bytes() {  # bytes TARGET NAME COUNT STATE [PREFIX]: pseudo-random bytes
  mkdir -p "$dir/$1"
  { printf '%b' "${5:-}"
    awk -v n="$3" -v s="$4" 'BEGIN { for (i = 0; i < n; i++) { s = (s * 1103515245 + 12345) % 2147483648; printf "%c", int(s / 65536) % 256 } }'
  } >"$dir/$1/$2"
}

rm -rf "$dir"
defaults='LogFile = \nLogSize = 262144\nLogFNum = 4\nMapSize = 65536\nWatchDog = 10\nIntervalSec = 0\nMaxMsgNum = 0\n'
mixed='# trace settings\nLog Size = 1024\nLogFile = /var/log/my trace\nLogSize=abc\nLogFNum=\nAVeryLongKeyName1=2\nMapSize = 65536\r\nno equals sign\nLogSize = 8192'

seed zolk2getopt setter '\000-fb\000-l\000/tmp/x\000-b8\000abc\000-l'
seed zolk2getopt getter '\001-fbn\000-x\000--\000-\000-l/tmp/x\000-h'
seed zolk2getopt custom '\002ab:c::\000-a\000-bvalue\000-cb\000-:\000-b'

seed zolk2conf sizes "-b\0008\000-s\0008\000\000$defaults"
seed zolk2conf path "-f\000  /tmp/trace  \000-n\00004\000-w\000300\000-i\0000\000-m\000500\000\000$mixed"
seed zolk2conf only-s "-s\000512\000\000LogSize=abc\n"
seed zolk2conf only-b "-b\00032\000\000MapSize = 65536\n"
seed zolk2conf logged "-l\000run.log\000-w\00030\000\000Log Size = 1024\nMapSize=99999999999999999999999\n"
seed zolk2conf wrong '-x\000-b\0008193\000\000'
seed zolk2conf help "-b\0009999\000-h\000\000$defaults"
seed zolk2conf long "-m\00012\000\000$(printf 'x%.0s' {1..1100})=1\nMaxMsgNum = 7"

seed zolk2getconf two "-b\000-f\000\000$defaults"
seed zolk2getconf all "-fbnswim\000-f\000\000$mixed"
seed zolk2getconf missing '-n\000\000LogFile = /x\n'
seed zolk2getconf huge '-b\000\000LogSize = 12345678901234567890\n'
seed zolk2getconf logged "-l\000get.log\000-s\000-i\000\000$defaults"
seed zolk2getconf wrong "-x\000-f\000\000$defaults"
seed zolk2getconf help '-h\000\000'

trace='ab\r\ncd\r\n\x1A\xFE\xFF\x1A\r\n\xFF\xFE\x1A'
for n in 1 2 3; do
  bytes trap_end "seed$n" $((n * 300)) "$n" "$trace"
  bytes trap_stream "seed$n" $((n * 400)) "$((n + 10))" "$trace"
  bytes syslog_format "seed$n" $((n * 200)) "$((n + 20))"
  bytes jni_convert "seed$n" 16 "$((n + 30))"
done
echo "corpus written to $dir"
