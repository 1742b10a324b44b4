/*
 * zolkcuicmnfunc.h - string, path and configuration-line helpers shared by
 * the configuration commands.
 *
 * Helpers answer through their results (0 yes or success, -1 no or
 * failure, unless said otherwise) and never print. Every write into a
 * caller's buffer stays inside the size the caller passes.
 */
#ifndef ZOLKCUI_ZOLKCUICMNFUNC_H
#define ZOLKCUI_ZOLKCUICMNFUNC_H

#include <stddef.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The seven keys of the configuration file, in the order in which missing
 * keys are appended. */
enum ZolkConfKey {
  ZOLK_KEY_LOGFILE,
  ZOLK_KEY_LOGSIZE,
  ZOLK_KEY_LOGFNUM,
  ZOLK_KEY_MAPSIZE,
  ZOLK_KEY_WATCHDOG,
  ZOLK_KEY_INTERVALSEC,
  ZOLK_KEY_MAXMSGNUM,
  ZOLK_KEY_COUNT
};

/* Longest chunk of a configuration line handled at once; a longer line is
 * handled as several chunks, each as a line of its own. */
#define ZOLK_CONF_CHUNK_MAX 1040
/* Longest key, not counting the terminator. */
#define ZOLK_CONF_KEY_MAX 15

/* Name of a key ("LogFile", ...), or null outside the range. */
const char *confKeyName(int key);
/* The ZolkConfKey of a key name (exact, case-sensitive), or -1. */
int confKeyIndex(const char *name);

/* First character of str equal to c, or null (also for a null str); the
 * terminator is never matched. */
const char *searchCharacter(const char *str, char c);
/* 0 when a and b are equal, -1 otherwise. */
int equalCharacter(char a, char b);
/* Copies src into dst (size bytes) without leading and trailing blanks
 * (tabs stay); at most size - 1 characters, always terminated. */
void deleteSpace(char *dst, const char *src, size_t size);
/* 0 when str is non-empty and made of decimal digits only. */
int checkNumeric(const char *str);
/* 0 when path is absolute and its last component holds no '?' or '*'. */
int checkPath(const char *path);
/* Writes the parent directory of path into result (size bytes): /a/b/c and
 * /a/b/ give /a/b, /name and / give /. */
int getParentPath(const char *path, char *result, size_t size);
/* 0 when path names an existing directory. */
int isPathExisting(const char *path);
/* The decimal integer at the start of str (0 for null or no digits),
 * clamped to the range of int. */
int ZOLK_atoi(const char *str);
/* The decimal integer at the start of text, as strtol(3) reads it, in
 * *value: 0, or -1 when it does not fit a long. */
int convertStoredSize(const char *text, long *value);
/* Key of a configuration line: the characters before the first '=' with
 * blanks and tabs dropped. Null when there is no '=' or the key would be
 * longer than 15 characters. The result lives in a static buffer that the
 * next call overwrites. */
char *getToken(const char *line);
/* Appends argv[0..argc-1], separated by blanks, to the empty buffer buf of
 * at least max + 1 bytes, stopping before the first argument that does not
 * fit whole within max characters. */
void ZOLK_GetCommandLine(int argc, char *const argv[], size_t max, char *buf);

/* Value of a key line: the first word after the first '=', cut to size - 1
 * characters. 0 when there is one, -1 (and an empty dst) otherwise. */
int getConfValue(const char *line, char *dst, size_t size);
/* Reads the next chunk of a configuration file: up to and including a
 * newline, at most size - 1 bytes, NUL bytes kept. Returns its length;
 * 0 at the end of the file or on a read error (see ferror). */
size_t readConfChunk(FILE *fp, char *buf, size_t size);

#ifdef __cplusplus
}
#endif

#endif
