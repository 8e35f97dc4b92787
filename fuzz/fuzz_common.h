// fuzz_common.h - set-up shared by the request layer's fuzz entries.
#ifndef CGI_REQUEST_FUZZ_COMMON_H
#define CGI_REQUEST_FUZZ_COMMON_H

#include "cgi_request_internal.h"
#include "fuzz_check.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

// Inputs write the trace file and /tmp, which the namespace runner makes
// private. A directory in place of the trace file skips trace lines cheaply.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (!getenv("ZEL_IN_NS")) {
        fprintf(stderr, "run under scripts/ns-run: inputs write /var/www and /tmp\n");
        exit(1);
    }
    mkdir(kCgiTraceFile, 0700);
    cgiSetupConstants();
    return 0;
}

// Upload temporary files in /tmp; it starts empty, so after an input's
// clean-up any count but 0 is a file the layer left behind.
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

#endif
