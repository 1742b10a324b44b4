/*
 * zolkcuicmd.h - command-level code shared by the configuration commands:
 * the frame of a run (help, the execution log, the wrong-argument report,
 * the return code) and opening the configuration file for reading.
 *
 * Unlike the helpers of zolkcuicmnfunc.h, these functions print: they write
 * the commands' messages themselves, through ic_LogPrintf, to the execution
 * log when the run has one and to standard error otherwise (the help to
 * standard output). Statuses are the commands' exit codes.
 */
#ifndef ZOLKCUI_ZOLKCUICMD_H
#define ZOLKCUI_ZOLKCUICMD_H

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Exit status of a run whose output on standard output could not be
 * written (a full disk, a closed or broken stream). */
#define ZOLK_STATUS_OUTPUT_LOST 16

/* Size of the execution log name: at most 1024 characters and a terminator. */
#define ZOLK_LOG_NAME_SIZE 1025

/* What both commands take from their command line besides their own
 * options: -l, -h and the first argument not understood. Zero-initialised
 * before the options are parsed. */
struct ZolkCuiRun {
  char logName[ZOLK_LOG_NAME_SIZE];
  int logging;       /* -l given: messages go to the execution log */
  int emptyLogName;  /* some -l had an empty name */
  const char *wrongArgument;
  int help;
};

/* Help of the options the frame handles, -l and -h: the end of each
 * command's help text. */
#define ZOLK_RUN_OPTIONS_HELP                                                           \
  "-l EXECUTIONLOGFILENAME\n"                                                           \
  "  The log file name that stores the execution result of the command is specified.\n" \
  "\n"                                                                                  \
  "-h\n"                                                                                \
  "  display this help and exit."

/* Takes the value of a -l; after an empty name, later names are ignored. */
void runTakeLogName(struct ZolkCuiRun *run, const char *value);
/* After zolk2getopt returned '?': keeps the element of argv that held the
 * refused option, unless an earlier one is kept already. */
void runNoteWrongArgument(struct ZolkCuiRun *run, char *const argv[]);

/*
 * Begins a run once the options are parsed: prints help on standard output
 * (status 0, or ZOLK_STATUS_OUTPUT_LOST when it could not be written), refuses an empty -l name on standard error (1), opens the
 * execution log and records the command line in it, and reports a wrong
 * argument (1, the run finished as by runFinish). Returns 0 when the command
 * goes on with its own work, -1 when the run is over with *status as its
 * exit status.
 */
int runBegin(struct ZolkCuiRun *run, int argc, char *const argv[], const char *help,
             int *status);
/* Ends the run: flushes standard output, where a failure is reported on
 * standard error and turns status 0 into ZOLK_STATUS_OUTPUT_LOST; the final
 * status goes to the execution log, which closes. Returns that status. */
int runFinish(const struct ZolkCuiRun *run, int status);

/* Where the messages of a run go: the execution log when logging is
 * non-zero, else standard error. */
int messageDestination(int logging);

/* Opens the configuration file at path for reading. On failure reports it
 * to dest and returns null with *status 13 (missing or a directory) or 14
 * (it cannot be opened). */
FILE *openConfFile(const char *path, int dest, int *status);
/* Reports to dest that the stored value of key cannot be read ("key :
 * FAILED", then "Cannot read the key value."); returns 17, its status. */
int reportUnreadableKey(int dest, const char *key);

#ifdef __cplusplus
}

// Owner of a FILE*: closes it when it goes out of scope, unless close() did.
class File final {
 public:
  explicit File(FILE *fp) : fp_(fp) {}
  ~File() { close(); }
  File(const File &) = delete;
  File &operator=(const File &) = delete;
  FILE *get() const { return fp_; }
  // Closes now and tells whether everything buffered reached the file.
  bool close() {
    FILE *fp = fp_;
    fp_ = nullptr;
    return fp != nullptr && ::fclose(fp) == 0;
  }

 private:
  FILE *fp_;
};
#endif

#endif
