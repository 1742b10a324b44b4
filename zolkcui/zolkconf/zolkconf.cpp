// zolk2conf: sets keys of the trace configuration file from the command
// line. Every value is checked before the file is read; the file is
// rewritten only when all of them pass and the sizes agree.
#include <cstdio>
#include <cstring>

#include "ilogs.h"
#include "setconf.h"
#include "zolkcuicmd.h"
#include "zolkcuicmnfunc.h"
#include "zolkgetopt.h"

extern "C" __attribute__((used, visibility("default"))) const char ZOLK_version_string[] =
    "@(#)Quorvex Bexa Trace Library 2. 03-19.   Last Update: Feb 24 2009";

namespace {

const size_t kValueSize = 1025;  // at most 1024 characters and a terminator

const char cs_help[] =
    "-f LOGFILE-NAME\n"
    "  The name of the log file (output directory and prefix) is specified.\n"
    "\n"
    "-b LOGFILE-SIZE\n"
    "  The size of the log file is specified within the range from 8 to 8192.\n"
    "  The unit is a KB.\n"
    "\n"
    "-n LOGFILE-NUMBER\n"
    "  The number of log file is specified within the range from 1 to 16.\n"
    "\n"
    "-s MEMORY-MAP-SIZE\n"
    "  The size of the monitor buffer is specified within the range from 8 to 2048.\n"
    "  The unit is a KB.\n"
    "\n"
    "-w WATCHDOG\n"
    "  The cycle of the watch time is specified within the range from 1 to 300.\n"
    "  The unit is a second.\n"
    "\n"
    "-i INTERVAL-SECOND\n"
    "  The interval of the watch time is specified within the range from 0 to 3600.\n"
    "  The unit is a second.\n"
    "\n"
    "-m MAX-MESSAGE-NUMBER\n"
    "  The number of messages is specified within the range from 0 to 500.\n"
    "\n"
    ZOLK_RUN_OPTIONS_HELP;

// Limits of a numeric option: its letter, the most characters it may have
// and its range.
struct NumericOption {
  char letter;
  int key;
  size_t maxChars;
  int low;
  int high;
};

const NumericOption cs_numericOptions[] = {
    {'b', ZOLK_KEY_LOGSIZE, 4, 8, 8192},   {'n', ZOLK_KEY_LOGFNUM, 2, 1, 16},
    {'s', ZOLK_KEY_MAPSIZE, 4, 8, 2048},   {'w', ZOLK_KEY_WATCHDOG, 3, 1, 300},
    {'i', ZOLK_KEY_INTERVALSEC, 4, 0, 3600}, {'m', ZOLK_KEY_MAXMSGNUM, 3, 0, 500},
};

// The working values of one run.
struct Run {
  ZolkCuiRun frame = {};  // -l, -h and the first wrong argument
  char values[ZOLK_KEY_COUNT][kValueSize] = {};
  char parentPath[kValueSize] = {};
  char errorMessage[1281] = {};
  int errorCode = 0;
  int accepted = 0;
};

// Copies an option's value into its buffer, cut to 1024 characters.
void storeValue(char *buffer, const char *value) {
  std::memset(buffer, 0, kValueSize);
  std::snprintf(buffer, kValueSize, "%s", value);
}

// A line break in the value would start a line of its own in the file, and
// other control characters cannot be stored as part of one value either.
bool hasControlCharacter(const char *text) {
  for (; *text != '\0'; ++text) {
    const unsigned char c = static_cast<unsigned char>(*text);
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

// Checks -f; composes the message of the first failing test.
bool acceptLogFile(Run &run) {
  char *path = run.values[ZOLK_KEY_LOGFILE];
  std::memset(path, 0, kValueSize);
  deleteSpace(path, optarg, kValueSize);
  if (checkPath(path) != 0 || hasControlCharacter(path) ||
      getParentPath(path, run.parentPath, kValueSize) != 0) {
    std::snprintf(run.errorMessage, sizeof run.errorMessage,
                  "Must be specified with full path. (-%c %s)", 'f', path);
    run.errorCode = 1;
    return false;
  }
  if (isPathExisting(run.parentPath) != 0) {
    std::snprintf(run.errorMessage, sizeof run.errorMessage,
                  "Existing directory is necessary. (-%c %s)", 'f', path);
    run.errorCode = 10;
    return false;
  }
  return true;
}

// Checks a numeric option as typed: length, digits only, range.
bool acceptNumeric(Run &run, const NumericOption &option) {
  char *text = run.values[option.key];
  storeValue(text, optarg);
  const size_t length = std::strlen(text);
  if (length >= 1 && length <= option.maxChars && checkNumeric(text) == 0) {
    const int value = ZOLK_atoi(text);
    if (value >= option.low && value <= option.high) return true;
  }
  std::snprintf(run.errorMessage, sizeof run.errorMessage,
                "Specify the number between from %d to %d. (-%c %s)", option.low, option.high,
                option.letter, text);
  run.errorCode = 1;
  return false;
}

void parse(Run &run, int argc, char *argv[]) {
  optind = 1;
  optletterind = 0;
  int c;
  while ((c = zolk2getopt(argc, argv, "f:b:n:s:w:i:m:l:h")) != -1) {
    if (c == 'l') {
      runTakeLogName(&run.frame, optarg);
      continue;
    }
    if (c == 'h') {
      run.frame.help = 1;
      return;
    }
    // After the first problem only -l and -h still count.
    if (run.frame.wrongArgument != nullptr || run.errorMessage[0] != '\0') continue;

    bool accepted = false;
    bool known = true;
    if (c == 'f') {
      accepted = acceptLogFile(run);
    } else {
      known = false;
      for (const NumericOption &option : cs_numericOptions) {
        if (c == option.letter) {
          known = true;
          accepted = acceptNumeric(run, option);
          break;
        }
      }
    }
    if (!known) {
      runNoteWrongArgument(&run.frame, argv);
    } else if (accepted) {
      ++run.accepted;
    }
  }
}

const char *givenValue(const Run &run, int key) {
  return run.values[key][0] != '\0' ? run.values[key] : nullptr;
}

}  // namespace

int main(int argc, char *argv[]) {
  static Run run;  // large buffers: keep them off the stack
  run = Run();     // a run never sees what an earlier one in the process left
  parse(run, argc, argv);
  int status;
  if (runBegin(&run.frame, argc, argv, cs_help, &status) != 0) return status;

  const int dest = messageDestination(run.frame.logging);
  if (run.errorMessage[0] != '\0') {
    ic_LogPrintfEx(dest, "%s", run.errorMessage, static_cast<const char *>(nullptr));
    return runFinish(&run.frame, run.errorCode);
  }
  if (run.accepted == 0) {
    ic_LogPrintf(dest, "Wrong argument.");
    return runFinish(&run.frame, 1);
  }
  const int rc = setConf(run.frame.logging, givenValue(run, ZOLK_KEY_LOGFILE),
                         givenValue(run, ZOLK_KEY_LOGSIZE), givenValue(run, ZOLK_KEY_LOGFNUM),
                         givenValue(run, ZOLK_KEY_MAPSIZE), givenValue(run, ZOLK_KEY_WATCHDOG),
                         givenValue(run, ZOLK_KEY_INTERVALSEC), givenValue(run, ZOLK_KEY_MAXMSGNUM));
  return runFinish(&run.frame, rc);
}
