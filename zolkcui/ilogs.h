/*
 * ilogs.h - message output of the configuration commands and their
 * execution log.
 *
 * Destinations: 0 standard output, 1 standard error, 2 the execution log
 * (a file opened in append mode, so the runs of a command accumulate; each
 * run starts with a time-stamped line). Every message is written as
 * formatted, followed by a newline; a '%' inside an argument is never
 * interpreted again. A process has at most one execution log open.
 */
#ifndef ZOLKCUI_ILOGS_H
#define ZOLKCUI_ILOGS_H

#ifdef __cplusplus
extern "C" {
#endif

enum { IC_DEST_STDOUT = 0, IC_DEST_STDERR = 1, IC_DEST_LOG = 2 };

/* Longest message of ic_LogPrintf; a longer one is cut. */
#define IC_LOG_MESSAGE_MAX 1024

/* Opens the execution log and writes its start line. -1 when a log is
 * already open (it stays open), the name is null or a directory, or the
 * file cannot be opened. */
int ic_LogFileOpen(const char *name);
/* Writes text and a newline to the open log; -1 when none is open. */
int ic_LogFilePuts(const char *text);
/* printf-style message to a destination, cut to IC_LOG_MESSAGE_MAX
 * characters. -1 for a null format, an unknown destination, or
 * destination 2 with no log open. */
int ic_LogPrintf(int dest, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
/* Like ic_LogPrintf for a format whose arguments are all strings, ended by
 * a null pointer; the message is never cut. */
int ic_LogPrintfEx(int dest, const char *format, ...) __attribute__((sentinel));
/* Closes the log; -1 when none was open. */
int ic_LogFileClose(void);

#ifdef __cplusplus
}
#endif

#endif
