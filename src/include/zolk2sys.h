/*
 * zolk2sys.h - interface of the ZOLKLib2 system log library.
 *
 * Two builds share this interface: libzolk2sys_r (reentrant, for
 * multi-threaded processes) and libzolk2sys (single-thread). Besides the
 * system log it deletes old log files of a directory, by count or by age.
 *
 * Messages go to the system log through named instances. Each instance has
 * its own identity, openlog options, facility, priority mask and thread-id
 * decoration; the functions without "Instance" in their names act on a
 * default instance built into the library. The process has one system log
 * connection: the library re-configures it (openlog, setlogmask) only when a
 * message is written for another instance than the last one, or after a
 * settings change, and never closes it.
 *
 * Results: 0 is success; ZOLK2_SYSLOG_INVALID (1) is an invalid argument
 * (null or unknown instance, refused option bits, thread-id mode or
 * prefix/suffix); any other value packs a failing operation number in bits
 * 24 to 31 and errno in bits 0 to 23 - take it apart with
 * ZOLK2_SysLogErrApi() and ZOLK2_SysLogErrCode().
 *
 * An instance pointer is valid from ZOLK2_CreateSysLogInstance() until
 * ZOLK2_DeleteSysLogInstance(). A pointer that is not a live instance
 * (deleted, or never created) is refused with ZOLK2_SYSLOG_INVALID.
 */
#ifndef ZOLK2SYS_H
#define ZOLK2SYS_H

/* The options, facilities and priorities that the functions take are the
 * system log's own (LOG_PID, LOG_LOCAL0, LOG_WARNING, ...). */
#include <syslog.h>

#include "zolk2version.h"

#if defined(ZOLK2_SYS_BUILDING)
#define ZOLK2_SYS_API __attribute__((visibility("default")))
#else
#define ZOLK2_SYS_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque instance record. */
typedef struct tag_ZOLK2_SYSLOG ZOLK2_SYSLOG;

/* Option bit: write every message of the instance with the thread id. */
#define ZOLK2_SYSLOG_OPT_WITH_TID 0x10000
/* Option bits that ZOLK2_OpenSysLogInstance() refuses. */
#define ZOLK2_SYSLOG_OPT_RESERVED 0x00FE0000

/* Result for an invalid argument. */
#define ZOLK2_SYSLOG_INVALID 1
/* Operation number of a failed memory allocation in a packed result. */
#define ZOLK2_SYSLOG_API_MALLOC 101

/* Thread-id modes of ZOLK2_SetSysLogTidFormat(). */
#define ZOLK2_SYSLOG_TID_HEX 1       /* "%lX"    upper-case hex, no padding  */
#define ZOLK2_SYSLOG_TID_DECIMAL 2   /* "%lu"    unsigned decimal            */
#define ZOLK2_SYSLOG_TID_HEX8 4      /* "%08lX"  8 hex digits (the default)  */
#define ZOLK2_SYSLOG_TID_HEX16 8     /* "%016lX" 16 hex digits               */

/* Longest identity kept (longer ones are cut), and longest thread-id prefix
 * or suffix accepted (longer ones are refused). */
#define ZOLK2_SYSLOG_IDENT_MAX 16
#define ZOLK2_SYSLOG_TID_AFFIX_MAX 7
/* Longest message written by the two-text functions (longer is cut). */
#define ZOLK2_SYSLOG_MESSAGE_MAX 1023

/* Instances. */
ZOLK2_SYS_API int ZOLK2_CreateSysLogInstance(ZOLK2_SYSLOG **out);
ZOLK2_SYS_API int ZOLK2_DeleteSysLogInstance(ZOLK2_SYSLOG *inst);
ZOLK2_SYS_API int ZOLK2_OpenSysLogInstance(ZOLK2_SYSLOG *inst, const char *ident,
                                           int option, int facility);
ZOLK2_SYS_API int ZOLK2_CloseSysLogInstance(ZOLK2_SYSLOG *inst);
ZOLK2_SYS_API int ZOLK2_PutToSysLogInstance(ZOLK2_SYSLOG *inst, int importance,
                                            const char *text1, const char *text2);
ZOLK2_SYS_API int ZOLK2_PutToSysLogWithTidInstance(ZOLK2_SYSLOG *inst, int importance,
                                                   const char *text1, const char *text2);
/* Returns the previous mask (or 1 for an invalid instance). */
ZOLK2_SYS_API int ZOLK2_SetLogMaskInstance(ZOLK2_SYSLOG *inst, int mask);
ZOLK2_SYS_API int ZOLK2_SetEventSrcNameInstance(ZOLK2_SYSLOG *inst, const char *name);
ZOLK2_SYS_API int ZOLK2_SetSysLogTidFormatInstance(ZOLK2_SYSLOG *inst, int mode,
                                                   const char *prefix, const char *suffix);

/* The default instance. */
ZOLK2_SYS_API void ZOLK2_OpenSysLog(const char *ident, int option, int facility);
ZOLK2_SYS_API void ZOLK2_CloseSysLog(void);
/* These two return 0 or an errno value (22 for an invalid argument). */
ZOLK2_SYS_API int ZOLK2_PutToSysLog(int importance, const char *text);
ZOLK2_SYS_API int ZOLK2_PutToSysLogWithTid(int importance, const char *text1,
                                           const char *text2);
ZOLK2_SYS_API int ZOLK2_SetLogMask(int mask);
ZOLK2_SYS_API int ZOLK2_SetEventSrcName(const char *name);
ZOLK2_SYS_API int ZOLK2_SetSysLogTidFormat(int mode, const char *prefix, const char *suffix);

/* Decoding of results: the errno part (22 for ZOLK2_SYSLOG_INVALID, -1 when
 * a packed result has none) and the operation number (-1 when none). */
ZOLK2_SYS_API int ZOLK2_SysLogErrCode(int rc);
ZOLK2_SYS_API int ZOLK2_SysLogErrApi(int rc);

/* Log file cleanup. pattern is a path whose last component may hold fnmatch()
 * wildcards (e.g. "/var/log/app/app*.log"); its directory part is taken
 * literally ("./" when it has no '/'), and the whole pattern is matched
 * against the whole path of each entry with fnmatch() flags 0. Directories
 * are never touched; a file on which another process holds a lockf() lock is
 * kept. Each file is deleted under a lock of the caller's, and only by a name
 * that still leads to it: the name is moved aside to a private name of the
 * same directory (.zolk2sys-cleanup-PID-N, never a candidate itself), checked
 * there and unlinked, so a file that another process renames over the name
 * meanwhile is not deleted. If the name leads to another file by the time
 * of the move, that file goes back, but the name is missing for a moment,
 * and if it is created again in it, the file moved stays under the private
 * name; so does a file whose deleting process is killed. Where the directory takes no private name (no RENAME_NOREPLACE
 * in the file system, ENOSPC, EDQUOT), the name is compared and unlinked,
 * and a file renamed over it between the two goes.
 * Results are errno values: 0, the errno of opening the directory or
 * of a failed stat() of an entry (which ends the call), ENAMETOOLONG for a
 * pattern of 1024 bytes or more, else the errno of the last failed unlink()
 * or rename().
 *
 * ByTime deletes the matching files last modified at least `seconds` ago.
 * ByNum keeps the `keep` newest matching files and deletes the others
 * (keep <= 0: all); it deletes nothing when the scan fails. */
ZOLK2_SYS_API int ZOLK2_FileCleanupByTime(const char *pattern, long seconds);
ZOLK2_SYS_API int ZOLK2_FileCleanupByNum(const char *pattern, int keep);

/* Fork handlers, for an application that registers them with
 * pthread_atfork(). In the reentrant build they hold the library's lock
 * across fork(), so a child never inherits it locked. */
ZOLK2_SYS_API void ZOLK2_SysLogPreForkHandler(void);
ZOLK2_SYS_API void ZOLK2_SysLogPostForkHandlerForParent(void);
ZOLK2_SYS_API void ZOLK2_SysLogPostForkHandlerForChild(void);

/* What-string of the library. */
ZOLK2_SYS_API extern const char ZOLK2_sys_version_string[];

#ifdef __cplusplus
}
#endif

#endif /* ZOLK2SYS_H */
