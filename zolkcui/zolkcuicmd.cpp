#include "zolkcuicmd.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ilogs.h"
#include "zolkcuicmnfunc.h"
#include "zolkgetopt.h"

namespace {

const size_t kCommandLineSize = 1025;  // at most 1024 characters and a terminator

// Delivers what the run printed on standard output. A value or help text
// that never reached its reader must not pass for success: the loss is
// reported on standard error (and in the execution log) and a run that
// would have ended with 0 ends with ZOLK_STATUS_OUTPUT_LOST instead.
int deliverStandardOutput(int logging, int status) {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  if (flushed && !std::ferror(stdout)) return status;
  const int error = errno;
  char message[160];
  if (error != 0) {
    std::snprintf(message, sizeof message, "Failed to write. 'standard output' (%s)",
                  std::strerror(error));
  } else {
    std::snprintf(message, sizeof message, "Failed to write. 'standard output'");
  }
  ic_LogPrintf(IC_DEST_STDERR, "%s", message);
  if (logging) ic_LogPrintf(IC_DEST_LOG, "%s", message);
  return status == 0 ? ZOLK_STATUS_OUTPUT_LOST : status;
}

}  // namespace

extern "C" {

void runTakeLogName(struct ZolkCuiRun *run, const char *value) {
  run->logging = 1;
  if (run->emptyLogName) return;
  deleteSpace(run->logName, value, sizeof run->logName);
  if (value[0] == '\0') run->emptyLogName = 1;
}

void runNoteWrongArgument(struct ZolkCuiRun *run, char *const argv[]) {
  if (run->wrongArgument != nullptr) return;
  run->wrongArgument = optletterind != 0 ? argv[optind] : argv[optind - 1];
}

int runBegin(struct ZolkCuiRun *run, int argc, char *const argv[], const char *help,
             int *status) {
  if (run->help) {
    ic_LogPrintf(IC_DEST_STDOUT, "%s", help);
    *status = deliverStandardOutput(0, 0);
    return -1;
  }
  if (run->logging) {
    if (run->emptyLogName) {
      ic_LogPrintf(IC_DEST_STDERR, "Must be specified with file name. (-%c %s)", 'l',
                   run->logName);
      *status = 1;
      return -1;
    }
    ic_LogFileOpen(run->logName);
    ic_LogPrintf(IC_DEST_LOG, "Specified arguments.");
    char commandLine[kCommandLineSize] = {};
    ZOLK_GetCommandLine(argc, argv, kCommandLineSize - 1, commandLine);
    ic_LogPrintfEx(IC_DEST_LOG, "  %s", commandLine, static_cast<const char *>(nullptr));
  }
  if (run->wrongArgument != nullptr) {
    ic_LogPrintf(messageDestination(run->logging), "Wrong argument. '%s'", run->wrongArgument);
    *status = runFinish(run, 1);
    return -1;
  }
  return 0;
}

int runFinish(const struct ZolkCuiRun *run, int status) {
  status = deliverStandardOutput(run->logging, status);
  if (run->logging) {
    ic_LogPrintf(IC_DEST_LOG, "COMMAND RETURN CODE : %d", status);
    ic_LogFileClose();
  }
  return status;
}

int messageDestination(int logging) { return logging ? IC_DEST_LOG : IC_DEST_STDERR; }

FILE *openConfFile(const char *path, int dest, int *status) {
  struct stat st;
  if (::stat(path, &st) != 0 || S_ISDIR(st.st_mode)) {
    ic_LogPrintf(dest, "File not found. '%s'", path);
    *status = 13;
    return nullptr;
  }
  FILE *fp = ::fopen(path, "re");
  if (fp == nullptr) {
    ic_LogPrintf(dest, "Failed to open. '%s'", path);
    *status = 14;
  }
  return fp;
}

int reportUnreadableKey(int dest, const char *key) {
  ic_LogPrintf(dest, "%s : %s", key, "FAILED");
  ic_LogPrintf(dest, "Cannot read the key value.");
  return 17;
}

}  // extern "C"
