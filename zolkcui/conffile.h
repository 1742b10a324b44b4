/*
 * conffile.h - where the trace configuration file lives.
 *
 * The shipped commands have the path compiled in and nothing at run time
 * changes it. Test builds of the same sources compile in another path with
 * ZOLK_TEST_CONF_FILE; the shipped targets never define it.
 */
#ifndef ZOLKCUI_CONFFILE_H
#define ZOLKCUI_CONFFILE_H

#if defined(ZOLK_TEST_CONF_FILE)
static const char cs_ConfFile[] = ZOLK_TEST_CONF_FILE;
#else
static const char cs_ConfFile[] = "/opt/quorvex/ZOLKLib2/etc/D002zolk2.cnf";
#endif

#endif
