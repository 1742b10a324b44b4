/*
 * zolk2trap.h - interface of the ZOLKLib2 trace file reader library.
 *
 * The core trace library writes a rotating set of numbered trace files,
 * DIR/PREFIXn.log with n from 1 to at most 64, and a management file
 * DIR/mmap/PREFIX.mm whose 64-byte record (management_info_t below) says how
 * large the files are, how many there are, which one is being written and
 * how far. A reader instance is bound to one trace file of such a set, named
 * at creation, and reads it while the writer is still at work.
 *
 * Calling order:
 *
 *   ZOLK2_MptTrap_t *t = ZOLK2_MpttCreateInstance("/var/trc/app3.log");
 *   ZOLK2_MpttOpenManagementFile(t);      finds /var/trc/mmap/app.mm
 *   ZOLK2_MpttOpen(t);                    opens the read stream at offset 0
 *   for (;;) {
 *       ZOLK2_MpttGetCurrentOffset(t);    moves the readable end
 *       while (ZOLK2_MpttGetLine(t, buf, sizeof buf) > 0) ...
 *   }
 *   ZOLK2_MpttClose(t);
 *   ZOLK2_MpttCloseManagementFile(t);
 *   ZOLK2_MpttDeleteInstance(t);
 *
 * Nothing is readable until ZOLK2_MpttGetCurrentOffset() has been called;
 * a caller polls it to see new data. While the instance's file is the one
 * being written, the readable end is the writer's offset; once the writer
 * has left the file, it is the end-of-data byte 0x1A that the writer put
 * after its last line (CR LF), optionally after the mark FE FF or FF FE.
 *
 * Results: status functions return 0 or one of the ZOLK2_MPTT_E_* codes;
 * the code of the last failure is kept per instance (ZOLK2_MpttGetLastError)
 * and, for calls made without an instance, once per process. Successful
 * calls do not clear it. Reaching the readable end is not an error.
 *
 * The reader never touches a byte beyond the trace file's size as it was
 * when ZOLK2_MpttGetCurrentOffset() last ran (each call looks at it), so that
 * a writer which does not pre-extend its files cannot make it fault, nor one
 * that truncates a file before that call. The management record is read
 * through the file, not the mapping: a file shorter than the record (just
 * created, or truncated by a writer that starts afresh) fails with
 * ZOLK2_MPTT_E_RECORD, as it does right after opening, whenever it is
 * truncated, and is read again once it holds a whole record. Removing or
 * replacing either file while a reader has it open is harmless: the reader
 * goes on with the file it opened. One window remains: a trace file
 * truncated after ZOLK2_MpttGetCurrentOffset() has computed its end and
 * before the stream functions have read up to that end makes the next read
 * of a lost page raise SIGBUS in the reader's process. Writers must not
 * shrink a trace file while a reader may be reading it.
 *
 * An instance must not be used by two threads at the same time; different
 * instances are independent, with one exception. Between processes the
 * reader coordinates with the writer only through a lockf() lock on the
 * management file, which is why that file is opened read-write. That lock
 * belongs to the process, not to the instance: two instances of one set in
 * one process do not exclude each other, and closing either one's
 * management file (ZOLK2_MpttCloseManagementFile, ZOLK2_MpttDeleteInstance)
 * drops the lock the other may be holding. Instances of one set must not
 * call ZOLK2_MpttGetCurrentOffset() from several threads at once, nor be
 * closed while another of them is in that call.
 */
#ifndef ZOLK2TRAP_H
#define ZOLK2TRAP_H

#include <stdint.h>

#include "zolk2version.h"

#if defined(ZOLK2_TRAP_BUILDING)
#define ZOLK2_TRAP_API __attribute__((visibility("default")))
#else
#define ZOLK2_TRAP_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque reader instance. */
typedef struct tag_ZOLK2_MptTrap ZOLK2_MptTrap_t;

/* Result codes. */
#define ZOLK2_MPTT_OK 0
#define ZOLK2_MPTT_E_INVALID 1    /* null instance or buffer, setting out of range, unknown origin */
#define ZOLK2_MPTT_E_OPEN 2       /* a file could not be opened (other than: does not exist) */
#define ZOLK2_MPTT_E_CLOSE 3      /* closing a descriptor failed */
#define ZOLK2_MPTT_E_MAP 7        /* a mapping could not be created */
#define ZOLK2_MPTT_E_NOMEM 9      /* out of memory while creating an instance */
#define ZOLK2_MPTT_E_STATE 11     /* not allowed in the instance's present state */
#define ZOLK2_MPTT_E_NOTFOUND 13  /* management or trace file missing, or no number to derive it from */
#define ZOLK2_MPTT_E_SEEK 14      /* seek target out of range */
#define ZOLK2_MPTT_E_NAME 17      /* trace file name does not end in a digit and ".log" */
#define ZOLK2_MPTT_E_STAT 20      /* status of the trace file could not be read */
#define ZOLK2_MPTT_E_LOCK 22      /* management file lock not taken within the attempts, or not released */
#define ZOLK2_MPTT_E_UNMAP 23     /* removing a mapping failed */
#define ZOLK2_MPTT_E_RECORD 29    /* management record invalid, too short, unknown byte order or lock type */

/* Origins of ZOLK2_MpttSeek(). */
#define ZOLK2_MPTT_SEEK_SET 0     /* from the start of the file */
#define ZOLK2_MPTT_SEEK_CUR 1     /* from the read position */
#define ZOLK2_MPTT_SEEK_END 2     /* from the end of the mapping (offset 0 or negative) */

/* Defaults of a new instance. */
#define ZOLK2_MPTT_DEFAULT_LOCK_BLOCK_TIME 10
#define ZOLK2_MPTT_DEFAULT_LOCK_SLEEP_TIME 1   /* milliseconds between lock attempts */
#define ZOLK2_MPTT_DEFAULT_LOCK_RETRY_TIMES 20 /* lock attempts in all */

/*
 * The management file record: the first 64 bytes of DIR/mmap/PREFIX.mm.
 * Integer fields are unsigned 32-bit in the writer's byte order; the reader
 * recognises the order by byteOrderMark (or, without a mark, by which order
 * makes the record valid). A record is valid when magic is "ZOLK", fileSize
 * lies in 4096..16777216, fileCount in 1..64, writeFileNumber in
 * 1..fileCount and writeOffset in 0..2147483647 (the readable end is
 * returned as a signed value). The writer updates writeOffset and writeFileNumber while
 * holding a lockf() lock on the whole file, and readers take the same lock
 * to copy the record, unless flags has ZOLK2_MPTT_FLAG_NO_LOCK set.
 */
typedef struct management_info {
    char magic[4];            /* "ZOLK", never byte-swapped */
    uint32_t byteOrderMark;   /* ZOLK2_MPTT_BYTE_ORDER_MARK in the writer's order, or 0 */
    uint32_t fileSize;        /* size of each trace file */
    uint32_t fileCount;       /* number of trace files in the rotation */
    uint32_t writeOffset;     /* end of the data in the file being written */
    uint32_t writeFileNumber; /* number of the file being written */
    uint32_t flags;           /* ZOLK2_MPTT_FLAG_* bits; others belong to the writer */
    uint32_t lockType;        /* 0 or 1: lockf(); every other value is unsupported */
    uint32_t reserved;        /* swapped with the fields above, not interpreted */
    unsigned char reserved2[28];
} management_info_t;

#define ZOLK2_MPTT_RECORD_SIZE 64
#define ZOLK2_MPTT_MAGIC "ZOLK"
#define ZOLK2_MPTT_BYTE_ORDER_MARK 0xEFBBBF00u
#define ZOLK2_MPTT_FLAG_NO_LOCK 0x10u
#define ZOLK2_MPTT_LOCK_LOCKF 1u
#define ZOLK2_MPTT_MIN_FILE_SIZE 4096u
#define ZOLK2_MPTT_MAX_FILE_SIZE 16777216u /* also the longest mapping of a trace file */
#define ZOLK2_MPTT_MAX_FILE_COUNT 64u
/* Bytes that end the data of a file the writer has left. */
#define ZOLK2_MPTT_END_OF_DATA 0x1A

/* Instances. CreateInstance returns null (error code 1 or 9 kept for the
 * process) on failure; DeleteInstance closes whatever is still open and
 * returns 0, or the code of a close that failed (the instance then
 * survives). */
ZOLK2_TRAP_API ZOLK2_MptTrap_t *ZOLK2_MpttCreateInstance(const char *traceFileName);
ZOLK2_TRAP_API int ZOLK2_MpttDeleteInstance(ZOLK2_MptTrap_t *trap);

/* Lock policy. The setters return the previous value, or -1 (error 1) for a
 * value out of range: block time and sleep time 0 or more, retry times 1 or
 * more. The block time is only stored and returned. */
ZOLK2_TRAP_API int ZOLK2_MpttGetLockBlockTime(ZOLK2_MptTrap_t *trap);
ZOLK2_TRAP_API int ZOLK2_MpttSetLockBlockTime(ZOLK2_MptTrap_t *trap, int blockTime);
ZOLK2_TRAP_API int ZOLK2_MpttGetLockSleepTime(ZOLK2_MptTrap_t *trap);
ZOLK2_TRAP_API int ZOLK2_MpttSetLockSleepTime(ZOLK2_MptTrap_t *trap, int milliseconds);
ZOLK2_TRAP_API int ZOLK2_MpttGetLockRetryTimes(ZOLK2_MptTrap_t *trap);
ZOLK2_TRAP_API int ZOLK2_MpttSetLockRetryTimes(ZOLK2_MptTrap_t *trap, int attempts);

/* The management file. Opening finds it from the trace file name (the last
 * one or two digits before ".log" give the file number; the one-digit
 * reading wins when its management file exists), maps its record and, if it
 * can, the trace file. The path found is kept for later reopening. */
ZOLK2_TRAP_API int ZOLK2_MpttOpenManagementFile(ZOLK2_MptTrap_t *trap);
ZOLK2_TRAP_API int ZOLK2_MpttCloseManagementFile(ZOLK2_MptTrap_t *trap);

/* Error reporting; a null instance means the process-wide code. */
ZOLK2_TRAP_API int ZOLK2_MpttGetLastError(ZOLK2_MptTrap_t *trap);
ZOLK2_TRAP_API void ZOLK2_MpttClearError(ZOLK2_MptTrap_t *trap);

/* The readable end: a byte offset in the trace file, or -1 on failure. */
ZOLK2_TRAP_API int ZOLK2_MpttGetCurrentOffset(ZOLK2_MptTrap_t *trap);

/* The read stream. Read and GetLine return the number of bytes delivered
 * (0 at the readable end or on failure); GetLine stores a NUL after them and
 * stops after an LF. GetChar returns 0..255, or -1 at the end or on failure.
 * Tell returns the read position or -1. */
ZOLK2_TRAP_API int ZOLK2_MpttOpen(ZOLK2_MptTrap_t *trap);
ZOLK2_TRAP_API int ZOLK2_MpttClose(ZOLK2_MptTrap_t *trap);
ZOLK2_TRAP_API uint32_t ZOLK2_MpttRead(ZOLK2_MptTrap_t *trap, void *buffer, uint32_t size);
ZOLK2_TRAP_API int ZOLK2_MpttGetChar(ZOLK2_MptTrap_t *trap);
ZOLK2_TRAP_API uint32_t ZOLK2_MpttGetLine(ZOLK2_MptTrap_t *trap, char *buffer, uint32_t size);
ZOLK2_TRAP_API int ZOLK2_MpttSeek(ZOLK2_MptTrap_t *trap, int32_t offset, int origin);
ZOLK2_TRAP_API int ZOLK2_MpttTell(ZOLK2_MptTrap_t *trap);

/* What-string of the library. */
ZOLK2_TRAP_API extern const char ZOLK2_version_string[];

#ifdef __cplusplus
}
#endif

#endif /* ZOLK2TRAP_H */
