/*
 * zolk2t.h - the functions of the core trace library libzolk2t that the Java
 * trace bridge calls. The core lies outside this tree (its own header is not
 * installed with it), so the bridge declares what it relies on here; the
 * stand-in under support/zolk2t implements the same functions for tests.
 *
 * Every function returns int. Strings are NUL-terminated byte strings; a
 * null pointer means the argument is absent. An instance is named by a
 * 32-bit handle that a creating call writes and later calls take by value.
 *
 * The three creating calls answer -1 for a failure, 0 for success, and 1, 2
 * or 3 for a success with a qualification that each caller judges; any
 * other result is a failure. After a failure, ZOLK2_GetLastError() must be
 * the next call made: it answers the error word and writes the detail.
 */
#ifndef ZOLK_INTERNAL_ZOLK2T_H
#define ZOLK_INTERNAL_ZOLK2T_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A trace instance of the core. */
typedef uint32_t ZOLK2_TraceHandle;

/* The trace file set a creating call is asked for; fields in this order. */
typedef struct {
    int32_t fileSize;     /* bytes per trace file */
    int32_t fileCount;    /* files in the rotation */
    const char *filePath; /* where the files go */
} ZOLK2_TraceOption;

/*
 * The error word: bits 23..0 tell where the error arose (its position),
 * the bits above it what it was; -1 means that no error is recorded.
 */
#define ZOLK2_TRACE_NO_ERROR (-1)
#define ZOLK2_TRACE_POSITION_MASK 0x00FFFFFF
#define ZOLK2_TRACE_ERROR_POSITION(word) ((word) & ZOLK2_TRACE_POSITION_MASK)
#define ZOLK2_TRACE_ERROR_WORD(code, position) \
    ((int32_t)(((uint32_t)(code) << 24) | ((uint32_t)(position) & ZOLK2_TRACE_POSITION_MASK)))

/* Modes of ZOLK2_LogFileClear(). */
#define ZOLK2_LOGCLEAR_BY_TIME 1
#define ZOLK2_LOGCLEAR_BY_NUM 2

/* The process-wide trace. */
int ZOLK2_Initialize(const ZOLK2_TraceOption *option, const char *name);
int ZOLK2_Finalize(void);
int ZOLK2_PutWithIdAndTidEx(int level, const char *id, const char *tid, const char *text,
                            const char *message);
int ZOLK2_PutWithMsgTypeAndTid(int level, const char *id, const char *tid, const char *text,
                               const char *type, const char *message);
int ZOLK2_TraceBackup(const char *path);
int ZOLK2_ChFileAttr(int attribute);
int ZOLK2_SetLogLevel(int level);
int ZOLK2_SetFileThreshold(int threshold);
int ZOLK2_SetShmThreshold(int threshold);
int ZOLK2_GetLogLevel(void);

/* Trace instances. */
int ZOLK2_CreateInstance(ZOLK2_TraceHandle *handle, const ZOLK2_TraceOption *option,
                         const char *name);
int ZOLK2_CreateInstanceM(ZOLK2_TraceHandle *handle, const ZOLK2_TraceOption *option,
                          const char *name, int extra);
int ZOLK2_DeleteInstance(ZOLK2_TraceHandle handle);
int ZOLK2_InstanceFileBufferFlush(ZOLK2_TraceHandle handle);
int ZOLK2_PutInstanceWithIdEx(ZOLK2_TraceHandle handle, int level, const char *id,
                              const char *text, const char *message);
int ZOLK2_PutInstanceWithMsgType(ZOLK2_TraceHandle handle, int level, const char *id,
                                 const char *text, const char *type, const char *message);
int ZOLK2_InstanceTraceBackup(ZOLK2_TraceHandle handle, const char *path);
int ZOLK2_InstanceTraceBackupM(ZOLK2_TraceHandle handle, const char *path, int value);
int ZOLK2_ChInstanceFileAttr(ZOLK2_TraceHandle handle, int attribute);
int ZOLK2_SetInstanceLogLevel(ZOLK2_TraceHandle handle, int level);
int ZOLK2_SetInstanceFileThreshold(ZOLK2_TraceHandle handle, int threshold);
int ZOLK2_SetInstanceShmThreshold(ZOLK2_TraceHandle handle, int threshold);
int ZOLK2_SetInstanceLockWaitTime(ZOLK2_TraceHandle handle, int time);
int ZOLK2_SetInstanceLockRetryTimes(ZOLK2_TraceHandle handle, int times);

/* Both. */
int ZOLK2_LogFileClear(const char *path, int mode, int value);
int ZOLK2_GetLastError(int *detail);

#ifdef __cplusplus
}
#endif

#endif
