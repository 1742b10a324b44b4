// Log file cleanup: deleting the files of a directory that match a pattern,
// by number (keep the newest N) or by age. No state is kept between calls;
// both builds share this code and it is safe to call from several threads.
#ifndef ZOLKSYS_ZOLKCLEANUPUNIX_H
#define ZOLKSYS_ZOLKCLEANUPUNIX_H

#include "ZolkFFList.h"

// Scans the pattern's directory and adds every matching file to list.
// 0, or the errno of the failed directory open or stat (ENAMETOOLONG for a
// pattern of 1024 bytes or more).
int ZOLK_CheckNumberOfFileDelete_zolksys(const char* pattern, ZOLKFindFileList_zolksys& list);

// Deletes the files of all but the first keep nodes of list, newest first.
// 0, or the errno of the last failed unlink.
int ZOLK_ExecDeleteLogByNumber_zolksys(ZOLKFindFileList_zolksys& list, int keep);

#endif
