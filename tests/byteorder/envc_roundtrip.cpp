// envc_roundtrip.cpp - CGI program that restores a request from a capture
// file (ENVC_IN) and saves it again (ENVC_OUT), requiring the same bytes back;
// without ENVC_IN it saves the live CGI request. Run on one processor kind with
// files written on the other, it shows the capture format is byte-order free.
// Exit status: 0 saved (and unchanged), 1 a failed step, 2 no ENVC_OUT.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "cgi_request.h"

static std::string contents(const char* path)
{
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

int cgiOnInit(void)
{
    return 1;
}

int cgiOnRecvFormFile(char*, int, int)
{
    return 0;
}

int cgiMain(void)
{
    const char *in = std::getenv("ENVC_IN"), *out = std::getenv("ENVC_OUT");
    if (out == nullptr) {
        std::fprintf(stderr, "envc_roundtrip: ENVC_OUT is not set\n");
        return 2;
    }
    if (in != nullptr && cgiReadEnvironment(in) != cgiEnvironmentSuccess) {
        std::fprintf(stderr, "envc_roundtrip: cannot restore %s\n", in);
        return 1;
    }
    if (cgiWriteEnvironment(out) != cgiEnvironmentSuccess) {
        std::fprintf(stderr, "envc_roundtrip: cannot save %s\n", out);
        return 1;
    }
    if (in != nullptr && (contents(in).empty() || contents(in) != contents(out))) {
        std::fprintf(stderr, "envc_roundtrip: %s saved again differs from it\n", in);
        return 1;
    }
    return 0;
}
