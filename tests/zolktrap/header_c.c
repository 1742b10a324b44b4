/* The public header as a C program sees it: it must compile as C and link
 * against the library. */
#include "zolk2trap.h"

#include <stddef.h>

int zolktrap_c_round_trip(const char *traceFile)
{
    ZOLK2_MptTrap_t *trap = ZOLK2_MpttCreateInstance(traceFile);
    management_info_t record;
    int rc;
    if (trap == NULL)
        return -1;
    rc = ZOLK2_MpttSetLockRetryTimes(trap, 3) == ZOLK2_MPTT_DEFAULT_LOCK_RETRY_TIMES ? 0 : -2;
    if (sizeof record != ZOLK2_MPTT_RECORD_SIZE)
        rc = -3;
    if (ZOLK2_MpttDeleteInstance(trap) != 0)
        rc = -4;
    return rc;
}
