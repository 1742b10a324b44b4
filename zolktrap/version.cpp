// What-string of the reader library, found by what(1)-style tools in the
// installed binary and readable by programs through the exported object.
#include "zolk2trap.h"

extern "C" const char ZOLK2_version_string[] =
    "@(#)Quorvex Bexa Trace Library 2. 03-16.     Last Update: May 18 2007";
