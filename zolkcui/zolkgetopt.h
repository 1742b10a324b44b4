/*
 * zolkgetopt.h - the option parser of the configuration commands.
 *
 * Unlike getopt(3) the parser never prints, never permutes the arguments
 * and treats "--" and a lone "-" as unrecognised options. Its state is
 * process-wide: a caller sets optind to 1 and calls zolk2getopt() until it
 * returns -1.
 */
#ifndef ZOLKCUI_ZOLKGETOPT_H
#define ZOLKCUI_ZOLKGETOPT_H

#ifdef __cplusplus
extern "C" {
#endif

/* Index in argv of the next element to examine. */
extern int optind;
/* Position of the next letter inside a cluster such as -fb, counted from
 * the first letter after the '-'; 0 between elements. */
extern int optletterind;
/* Value of the last option that takes one (never null after such an
 * option: a missing value is the empty string). */
extern char *optarg;
/* The last letter that was not recognised. */
extern int optopt;

/*
 * Returns the next option letter, '?' for an element that is not an option
 * or a letter that optstring does not list, or -1 when nothing is left.
 * A letter followed by ':' in optstring takes a value: the rest of its
 * element, or else the next element whatever it begins with.
 *
 * After a '?', the element that held it is argv[optind] when optletterind
 * is non-zero, else argv[optind - 1].
 */
int zolk2getopt(int argc, char *const argv[], const char *optstring);

#ifdef __cplusplus
}
#endif

#endif
