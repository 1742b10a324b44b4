// Following a trace set: the file being written or a chosen file first,
// then through the rotation behind the writer, with the writer's laps over
// the follower detected and reported.
#ifndef ZOLKTAIL_FOLLOWER_H
#define ZOLKTAIL_FOLLOWER_H

#include <signal.h>

#include <cstdint>
#include <string>

namespace zolktail {

struct FollowOptions {
  bool fromStart = false;     // -a: from the beginning of the named file
  uint64_t lines = 10;        // -n: the last lines of the file being written first
  bool stopAtEnd = false;     // -x: stop at the end the set has when the command starts
  unsigned intervalMs = 200;  // -i: pause between two looks at an idle writer
  bool raw = false;           // -r: bytes as read, CR LF kept
  std::string cursorFile;     // -c: continue after the last line of the run that saved it
};

// Prints the set that traceFile belongs to on standard output and returns
// the exit status: 0 at the end of the data (-x), after a stop signal or
// when the output pipe is closed; 2 after a problem with the set or the
// output, reported on standard error as "zolk2tail: FILE: reason".
// stops counts the stop signals received.
int follow(const std::string& traceFile, const FollowOptions& options,
           const volatile sig_atomic_t* stops);

// Name of the file being read, for a SIGBUS handler: a writer that shrinks
// a mapped file makes the next read fault.
const char* fileBeingRead();

}  // namespace zolktail

#endif
