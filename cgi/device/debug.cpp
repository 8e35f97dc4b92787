// debug.cpp - the diagnostic log: destination choice, the stored program
// name and the formatting of one numbered line.
#include "debug.h"
#include "debug_internal.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

int debugLevels = 0;

namespace {

constexpr std::size_t kWorkAreaSize = 8192;  // one composed format, terminator included
constexpr std::size_t kNameSize = 80;
constexpr char kVersionText[] = "diagnostic log 1.0";

FILE* debug_log = nullptr;  // destination, chosen once and kept for the process
std::array<char, kNameSize> processName = {'N', 'o', 'n', 'e', ' ', 'Y', 'e', 't'};

// Closes a log file chosen earlier so that choosing again does not leak it.
void release_destination()
{
    if (debug_log != nullptr && debug_log != stderr)
        std::fclose(debug_log);
    debug_log = nullptr;
}

}  // namespace

extern "C" void _db_print(int db_section, const char* format, ...) noexcept
{
    const int saved_errno = errno;  // callers log a failure and then report errno
    if (debug_log == nullptr)
        debug_log = stderr;
    char work[kWorkAreaSize];
    const int n = std::snprintf(work, sizeof work, "%d|%s\n", db_section, format);
    std::va_list ap;
    va_start(ap, format);
    if (n >= 0 && static_cast<std::size_t>(n) < sizeof work) {
        std::vfprintf(debug_log, work, ap);
    } else {
        // Too long for the work area: write the same line in pieces instead of
        // expanding a format that was cut somewhere inside a directive.
        std::fprintf(debug_log, "%d|", db_section);
        std::vfprintf(debug_log, format, ap);
        std::fputc('\n', debug_log);
    }
    va_end(ap);
    std::fflush(debug_log);
    errno = saved_errno;
}

extern "C" int debug_open_log(const char* logfile) noexcept
{
    release_destination();
    if (logfile == nullptr) {
        debug_log = stderr;
        return 0;
    }
    debug_log = std::fopen(logfile, "wt");
    if (debug_log != nullptr)
        return 0;
    std::fprintf(stderr, "Can not open log file %s. stderr will be used\n", logfile);
    debug_log = stderr;
    return -1;
}

extern "C" void init_debug(const char* progName, const char* logfile) noexcept
{
    assert(progName);
    const std::size_t strLen = std::strlen(progName);
    assert(strLen > 0);
    const char* slash = std::strrchr(progName, '/');
    const char* base = slash != nullptr ? slash + 1 : progName;
    // Keeps at most 80 bytes; an 80-byte or longer name stays unterminated.
    const std::size_t keep = std::min(std::strlen(base), processName.size());
    processName.fill('\0');
    std::memcpy(processName.data(), base, keep);
    (void)debug_open_log(logfile);
    DB_ABOVE(8, 0, "%s", kVersionText);
}

extern "C" const char* debug_process_name(void) noexcept
{
    return processName.data();
}

extern "C" FILE* debug_destination(void) noexcept
{
    return debug_log;
}
