/*
 * setconf.h - loading, checking and rewriting the configuration file for
 * the setter command.
 */
#ifndef ZOLKCUI_SETCONF_H
#define ZOLKCUI_SETCONF_H

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Sets the given keys in the configuration file and keeps every other line.
 * logging non-zero sends the messages to the execution log instead of
 * standard error. Each text is null when its option was not given: -f an
 * absolute path, -b and -s sizes in KB, -n, -w, -i and -m as typed.
 *
 * Returns 0; 11 or 12 when the log file size would be below the monitor
 * buffer size; 13 when the file is missing or a directory; 14 when it cannot
 * be opened or the new content cannot be written (the file is then left as
 * it was, unless even writing its old content back fails); 17 on a read
 * error or a stored size that does not convert; 99 when memory runs out.
 *
 * The file is replaced by a new one renamed over it where the new file can
 * be the same file to its users (one name, same owner and group, a writable
 * directory, a rename that succeeds); otherwise it is rewritten in place.
 */
int setConf(int logging, const char *logFile, const char *logSize, const char *fileNum,
            const char *mapSize, const char *watchDog, const char *intervalSec,
            const char *maxMsgNum);

#ifdef __cplusplus
}
#endif

#endif
