// stderr_capture.h - runs a piece of code with file descriptor 2 sent to a
// temporary file and returns what was written there (log lines, perror).
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
    std::string out;
    std::rewind(sink);
    for (int c; (c = std::fgetc(sink)) != EOF;)
        out.push_back(static_cast<char>(c));
    std::fclose(sink);
    return out;
}

#endif
