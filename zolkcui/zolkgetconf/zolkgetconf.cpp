// zolk2getconf: prints keys of the trace configuration file, for people and
// scripts. Sizes come out in KB, the unit in which zolk2conf takes them.
#include <cstring>

#include "getconf.h"
#include "ilogs.h"
#include "zolkcuicmnfunc.h"
#include "zolkgetopt.h"

extern "C" __attribute__((used, visibility("default"))) const char ZOLK_version_string[] =
    "@(#)Quorvex Bexa Trace Library 2. 03-19.   Last Update: Feb 13 2009";

namespace {

const size_t kValueSize = 1025;  // at most 1024 characters and a terminator

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
    "-l EXECUTIONLOGFILENAME\n"
    "  The log file name that stores the execution result of the command is specified.\n"
    "\n"
    "-h\n"
    "  display this help and exit.";

// The working values of one run.
struct Run {
  char letters[8] = {};  // requested keys, each once, in order of last mention
  char logName[kValueSize] = {};
  bool logging = false;
  bool emptyLogName = false;
  const char *wrongArgument = nullptr;
  bool help = false;
  char commandLine[kValueSize] = {};
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
        run.logging = true;
        if (!run.emptyLogName) {
          deleteSpace(run.logName, optarg, kValueSize);
          if (optarg[0] == '\0') run.emptyLogName = true;
        }
        break;
      case 'h':
        run.help = true;
        return;
      default:
        if (run.wrongArgument == nullptr) {
          run.wrongArgument = optletterind != 0 ? argv[optind] : argv[optind - 1];
        }
        break;
    }
  }
}

// Ends the run: the return code goes to the execution log, which closes.
int finish(const Run &run, int rc) {
  if (run.logging) {
    ic_LogPrintf(IC_DEST_LOG, "COMMAND RETURN CODE : %d", rc);
    ic_LogFileClose();
  }
  return rc;
}

}  // namespace

int main(int argc, char *argv[]) {
  static Run run;
  parse(run, argc, argv);

  if (run.help) {
    ic_LogPrintf(IC_DEST_STDOUT, "%s", cs_help);
    return 0;
  }
  if (run.logging) {
    if (run.emptyLogName) {
      ic_LogPrintf(IC_DEST_STDERR, "Must be specified with file name. (-%c %s)", 'l',
                   run.logName);
      return 1;
    }
    ic_LogFileOpen(run.logName);
    ic_LogPrintf(IC_DEST_LOG, "Specified arguments.");
    ZOLK_GetCommandLine(argc, argv, kValueSize - 1, run.commandLine);
    ic_LogPrintfEx(IC_DEST_LOG, "  %s", run.commandLine, static_cast<const char *>(nullptr));
  }

  const int dest = run.logging ? IC_DEST_LOG : IC_DEST_STDERR;
  if (run.wrongArgument != nullptr) {
    ic_LogPrintf(dest, "Wrong argument. '%s'", run.wrongArgument);
    return finish(run, 1);
  }
  if (run.letters[0] != '\0') return finish(run, getConf(run.letters, run.logging));
  ic_LogPrintf(dest, "Wrong argument.");
  return finish(run, 1);
}
