// fuzz_common.h - set-up shared by the request layer's fuzz entries: the
// layer's constants, and a refusal to run outside the namespace runner
// (inputs reach the trace file and /tmp; the runner makes both private).
#ifndef CGI_REQUEST_FUZZ_COMMON_H
#define CGI_REQUEST_FUZZ_COMMON_H

#include "cgi_request_internal.h"

#include <cstdint>
#include <cstdlib>
#include <sys/stat.h>

// Traps: a failed invariant must stop the fuzzer with a crash report.
#define FUZZ_CHECK(cond) \
    do {                 \
        if (!(cond)) __builtin_trap(); \
    } while (0)

inline void fuzzSetUp() {
    if (!getenv("ZEL_IN_NS")) {
        fprintf(stderr, "run under scripts/ns-run: inputs write /var/www and /tmp\n");
        exit(1);
    }
    // A directory in place of the trace file: trace lines are skipped cheaply
    // instead of filling the private /var/www.
    mkdir(kCgiTraceFile, 0700);
    cgiSetupConstants();
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzSetUp();
    return 0;
}

#endif
