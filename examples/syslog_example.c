/*
 * syslog_example.c - writing to the system log through named instances.
 *
 * Build against an installed toolkit:
 *   cc syslog_example.c -I/opt/quorvex/ZOLKLib2/include -L/opt/quorvex/ZOLKLib2/lib \
 *      -Wl,-rpath,/opt/quorvex/ZOLKLib2/lib -lzolk2sys_r
 */
#include <stdio.h>
#include <syslog.h>

#include <zolk2sys.h>

static void report(const char *what, int rc)
{
    printf("  %-44s -> %d", what, rc);
    if (rc != 0)
        printf(" (errno part %d, operation %d)", ZOLK2_SysLogErrCode(rc), ZOLK2_SysLogErrApi(rc));
    printf("\n");
}

int main(void)
{
    ZOLK2_SYSLOG *orders = NULL, *billing = NULL;

    printf("library version (ZOLK2_sys_version_string): %s\n", ZOLK2_sys_version_string + 4);
    report("create instance 'orders'", ZOLK2_CreateSysLogInstance(&orders));
    report("create instance 'billing'", ZOLK2_CreateSysLogInstance(&billing));
    report("open 'orders' with thread ids, LOG_LOCAL0",
           ZOLK2_OpenSysLogInstance(orders, "orders", LOG_PID | ZOLK2_SYSLOG_OPT_WITH_TID, LOG_LOCAL0));
    report("open 'billing', LOG_LOCAL1",
           ZOLK2_OpenSysLogInstance(billing, "billing", LOG_PID, LOG_LOCAL1));
    report("thread ids of 'orders' in decimal, <...>",
           ZOLK2_SetSysLogTidFormatInstance(orders, ZOLK2_SYSLOG_TID_DECIMAL, "<", "> "));
    report("'billing' mask: LOG_ERR and worse only",
           ZOLK2_SetLogMaskInstance(billing, LOG_UPTO(LOG_ERR)) == 0x7F ? 0 : 1);

    report("write to 'orders' (warning)",
           ZOLK2_PutToSysLogInstance(orders, LOG_WARNING, "queue", "is 90% full"));
    report("write to 'billing' (info, masked out)",
           ZOLK2_PutToSysLogInstance(billing, LOG_INFO, "invoice 17", "sent"));
    report("write to 'billing' (error)",
           ZOLK2_PutToSysLogInstance(billing, LOG_ERR, "invoice 18", "failed: card declined"));
    report("write to the default instance",
           ZOLK2_PutToSysLog(LOG_NOTICE, "default instance: no identity set"));
    report("option bits out of range are refused",
           ZOLK2_OpenSysLogInstance(orders, "orders", 0x20000, LOG_LOCAL0));

    report("delete 'orders'", ZOLK2_DeleteSysLogInstance(orders));
    report("delete 'orders' again (refused)", ZOLK2_DeleteSysLogInstance(orders));
    report("delete 'billing'", ZOLK2_DeleteSysLogInstance(billing));
    return 0;
}
