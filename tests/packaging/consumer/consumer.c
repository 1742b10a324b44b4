/* Uses both installed libraries through their public headers: an instance
 * of the system log library, and a reader on a file that is not there. */
#include <stdio.h>
#include <zolk2sys.h>
#include <zolk2trap.h>

#if defined(PACKAGE_MAJOR) && \
    (ZOLKLIB2_VERSION_MAJOR != PACKAGE_MAJOR || ZOLKLIB2_VERSION_MINOR != PACKAGE_MINOR)
#error "the headers' version is not the installed package's"
#endif

int main(void)
{
    ZOLK2_SYSLOG *log = NULL;
    if (ZOLK2_CreateSysLogInstance(&log) != 0 || ZOLK2_SetLogMaskInstance(log, 0x0F) == 1 ||
        ZOLK2_DeleteSysLogInstance(log) != 0 || ZOLK2_DeleteSysLogInstance(log) != 1)
        return 1;
    ZOLK2_MptTrap_t *t = ZOLK2_MpttCreateInstance("/nonexistent/app1.log");
    int opened = t != NULL && ZOLK2_MpttOpenManagementFile(t) == 0;
    ZOLK2_MpttDeleteInstance(t);
    if (t == NULL || opened)
        return 1;
    printf("%s\n%s\n%s\n", ZOLKLIB2_VERSION_STRING, ZOLK2_sys_version_string, ZOLK2_version_string);
    return 0;
}
