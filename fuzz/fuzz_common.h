// fuzz_common.h - set-up shared by the request layer's fuzz entries: the
// layer's constants, and a refusal to run outside the namespace runner
// (inputs reach the trace file and /tmp; the runner makes both private).
#ifndef CGI_REQUEST_FUZZ_COMMON_H
#define CGI_REQUEST_FUZZ_COMMON_H

#include "cgi_request_internal.h"
#include "fuzz_check.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

inline void fuzzSetUp()
{
    if (!getenv("ZEL_IN_NS")) {
        fprintf(stderr, "run under scripts/ns-run: inputs write /var/www and /tmp\n");
        exit(1);
    }
    // A directory in place of the trace file: trace lines are skipped cheaply
    // instead of filling the private /var/www.
    mkdir(kCgiTraceFile, 0700);
    cgiSetupConstants();
}

// Upload temporary files present in /tmp. The runner's /tmp is private and
// starts empty, so after an input's clean-up any count but 0 is a file the
// layer left behind.
inline int fuzzTempFiles()
{
    DIR* d = opendir("/tmp");
    FUZZ_CHECK(d != nullptr);
    int n = 0;
    while (dirent* e = readdir(d))
        n += strncmp(e->d_name, "cgi", 3) == 0;
    closedir(d);
    return n;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzSetUp();
    return 0;
}

#endif
