// Log file cleanup: deleting the files of a directory that match a pattern,
// by number (keep the newest N) or by age. No state is kept between calls;
// both builds share this code and it is safe to call from several threads.
//
// A file is deleted only while this process holds a lockf() lock on it, and
// only by a name that still leads to it: the name is moved aside atomically
// to a private name of the same directory (.zolk2sys-cleanup-PID-N, which
// the scan passes over) and checked there, so no other process can give the
// name to another file between the check and the deletion. The file then
// waits there, still locked, until the next deletion of the call replaces
// it or the call ends. What remains:
// - If the name leads to another file by the time of the move (a locked
//   file that has lost its last name already is left without one), that
//   file is moved aside as well and back at once: for that moment the name
//   is missing, and if it is created again meanwhile, the moved file stays
//   under its private name and is never deleted (it and the new file may
//   each be someone's locked file).
// - A process killed (or a thread cancelled) while a file waits under a
//   private name leaves it there.
// - Where no private name can be had (a file system without
//   RENAME_NOREPLACE, or no room for one more entry: ENOSPC, EDQUOT) the
//   name is compared and then unlinked, and a file renamed over it between
//   the two goes.
#ifndef ZOLKSYS_ZOLKCLEANUPUNIX_H
#define ZOLKSYS_ZOLKCLEANUPUNIX_H

#include "ZolkFFList.h"

// Scans the pattern's directory and adds every matching file to list.
// 0, or the errno of the failed directory open or stat (ENAMETOOLONG for a
// pattern of 1024 bytes or more).
int ZOLK_CheckNumberOfFileDelete_zolksys(const char* pattern, ZOLKFindFileList_zolksys& list);

// Deletes the files of all but the first keep nodes of list, newest first.
// 0, or the errno of the last failed unlink (or rename).
int ZOLK_ExecDeleteLogByNumber_zolksys(ZOLKFindFileList_zolksys& list, int keep);

#endif
