/* debug_internal.h - read access to the diagnostic log's private state, for
 * the log's own tests only. */
#ifndef DEBUG_INTERNAL_H
#define DEBUG_INTERNAL_H

#include <stdio.h>

#include "zel_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The 80-byte stored program name (not terminated when 80 bytes long). */
const char* debug_process_name(void) ZEL_NOEXCEPT;

/* The current log destination, null while none was chosen. */
FILE* debug_destination(void) ZEL_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
