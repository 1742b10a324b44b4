/*
 * getconf.h - reading keys of the configuration file for the getter
 * command.
 */
#ifndef ZOLKCUI_GETCONF_H
#define ZOLKCUI_GETCONF_H

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Reads the configuration file and prints the keys named by letters (f, b,
 * n, s, w, i, m, each at most once) in that order on standard output: the
 * value alone for one key, "Key=value" lines for more. Sizes are printed in
 * KB when stored as digits. logging non-zero sends the messages to the
 * execution log instead of standard error.
 *
 * Returns 0; 13, 14 or 17 when the file cannot be read (nothing printed);
 * 15 at the first key without a value; 17 for a stored size that does not
 * convert; 99 for a letter outside the seven.
 */
int getConf(const char *letters, int logging);

/* Prints one key (or reports it missing with 15); requested is the number
 * of keys asked for, which selects the output form. */
int checkConfValue(const char *key, const char *value, int logging, int requested);

#ifdef __cplusplus
}
#endif

#endif
