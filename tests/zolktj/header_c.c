/* The core's interface header compiles as C: one call through it. */
#include <stddef.h>

#include "zolk2t.h"

int zolktj_c_position_of_last_error(void) {
    const int word = ZOLK2_GetLastError(NULL);
    return word == ZOLK2_TRACE_NO_ERROR ? -1 : ZOLK2_TRACE_ERROR_POSITION(word);
}
