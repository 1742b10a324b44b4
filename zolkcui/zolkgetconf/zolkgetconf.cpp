// zolk2getconf: prints keys of the trace configuration file, for people and
// scripts. Sizes come out in KB, the unit in which zolk2conf takes them.
#include <cstring>

#include "getconf.h"
#include "ilogs.h"
#include "zolkcuicmd.h"
#include "zolkgetopt.h"

extern "C" __attribute__((used, visibility("default"))) const char ZOLK_version_string[] =
    "@(#)Quorvex Bexa Trace Library 2. 03-19.   Last Update: Feb 13 2009";

namespace {

const char cs_help[] =
    "-f\n"
    "  The name of the log file (output directory and prefix) is obtained.\n"
    "\n"
    "-b\n"
    "  The size of the log file is obtained.\n"
    "\n"
    "-n\n"
    "  The number of log file is obtained.\n"
    "\n"
    "-s\n"
    "  The size of the monitor buffer is obtained.\n"
    "\n"
    "-w\n"
    "  The cycle of the watch time is obtained.\n"
    "\n"
    "-i\n"
    "  The interval of the watch time is obtained.\n"
    "\n"
    "-m\n"
    "  The number of messages is obtained.\n"
    "\n"
    ZOLK_RUN_OPTIONS_HELP;

// The working values of one run.
struct Run {
  ZolkCuiRun frame = {};  // -l, -h and the first wrong argument
  char letters[8] = {};   // requested keys, each once, in order of last mention
};

// Moves the letter to the end of the request, adding it if new.
void requestKey(Run &run, char letter) {
  char *at = std::strchr(run.letters, letter);
  if (at != nullptr) std::memmove(at, at + 1, std::strlen(at + 1) + 1);
  const size_t length = std::strlen(run.letters);
  if (length + 1 < sizeof run.letters) {
    run.letters[length] = letter;
    run.letters[length + 1] = '\0';
  }
}

void parse(Run &run, int argc, char *argv[]) {
  optind = 1;
  optletterind = 0;
  int c;
  while ((c = zolk2getopt(argc, argv, "fbnswiml:h")) != -1) {
    switch (c) {
      case 'f':
      case 'b':
      case 'n':
      case 's':
      case 'w':
      case 'i':
      case 'm':
        requestKey(run, static_cast<char>(c));
        break;
      case 'l':
        runTakeLogName(&run.frame, optarg);
        break;
      case 'h':
        run.frame.help = 1;
        return;
      default:
        runNoteWrongArgument(&run.frame, argv);
        break;
    }
  }
}

}  // namespace

int main(int argc, char *argv[]) {
  static Run run;
  run = Run();  // a run never sees what an earlier one in the process left
  parse(run, argc, argv);
  int status;
  if (runBegin(&run.frame, argc, argv, cs_help, &status) != 0) return status;

  if (run.letters[0] != '\0') {
    return runFinish(&run.frame, getConf(run.letters, run.frame.logging));
  }
  ic_LogPrintf(messageDestination(run.frame.logging), "Wrong argument.");
  return runFinish(&run.frame, 1);
}
