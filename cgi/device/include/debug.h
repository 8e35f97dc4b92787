/** @file debug.h - the diagnostic log shared by the device's CGI programs: numbered
 * "section|message" lines to a log file or standard error, gated at each call
 * site by the process-wide verbosity debugLevels. */
#ifndef DEBUG_H
#define DEBUG_H

#include "zel_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/** Process-wide verbosity, 0 unless a program sets it; a negative value
 * silences every line. Process-private, one thread: no lock. */
extern int debugLevels;

/** Writes "<db_section>|<format expanded>\n" to the log destination (standard
 * error when none was chosen) and flushes it. Never fails visibly; errno is
 * left as the caller had it. */
void _db_print(int db_section, const char* format, ...) ZEL_NOEXCEPT
    __attribute__((format(printf, 2, 3)));

/** Returns 0 when `logfile` is null (standard error) or was opened for writing;
 * -1 when it cannot be opened, after a notice on standard error, leaving
 * standard error as the destination. */
int debug_open_log(const char* logfile) ZEL_NOEXCEPT;

/** Stores the base name of `progName` and chooses the log destination; a null
 * or empty `progName` stops the process with an assertion. */
void init_debug(const char* progName, const char* logfile) ZEL_NOEXCEPT;

/** Call-site gate: writes the line only while debugLevels is above `min`
 * ("level 0 and above" is DB_ABOVE(-1, ...)). */
#define DB_ABOVE(min, section, ...)            \
    do {                                       \
        if (debugLevels > (min))               \
            _db_print((section), __VA_ARGS__); \
    } while (0)

#ifdef __cplusplus
}
#endif

#endif
