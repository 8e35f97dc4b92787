// stderr_capture.h - what a piece of code writes to file descriptor 2.
#ifndef ZEL_TESTS_STDERR_CAPTURE_H
#define ZEL_TESTS_STDERR_CAPTURE_H

#include <unistd.h>

#include <cstdio>
#include <string>

template <typename Fn>
std::string capture_stderr(Fn&& fn)
{
    std::fflush(stderr);
    FILE* sink = std::tmpfile();
    const int saved = dup(2);
    if (sink == nullptr || saved < 0 || dup2(fileno(sink), 2) < 0)
        return "<capture failed>";
    fn();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::string out(static_cast<size_t>(lseek(fileno(sink), 0, SEEK_END)), '\0');
    std::rewind(sink);
    out.resize(std::fread(&out[0], 1, out.size(), sink));
    std::fclose(sink);
    return out;
}

#endif
