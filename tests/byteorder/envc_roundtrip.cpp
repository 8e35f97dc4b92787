// envc_roundtrip.cpp - CGI program that restores a request from a capture
// file (ENVC_IN) and saves it again (ENVC_OUT), requiring the same bytes back;
// without ENVC_IN it saves the live CGI request. Run on one processor kind with
// files written on the other, it shows the capture format is byte-order free.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cgi_request.h"

namespace {

// Closes a stdio stream when it goes out of scope.
struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

// True when both files can be read and hold the same bytes; false otherwise.
bool sameBytes(const char* pathA, const char* pathB)
{
    std::unique_ptr<FILE, FileCloser> a(std::fopen(pathA, "rb"));
    std::unique_ptr<FILE, FileCloser> b(std::fopen(pathB, "rb"));
    if (!a || !b)
        return false;
    char bufA[4096];
    char bufB[4096];
    for (;;) {
        size_t gotA = std::fread(bufA, 1, sizeof bufA, a.get());
        size_t gotB = std::fread(bufB, 1, sizeof bufB, b.get());
        if (gotA != gotB || std::memcmp(bufA, bufB, gotA) != 0)
            return false;
        if (gotA == 0)
            return !std::ferror(a.get()) && !std::ferror(b.get());
    }
}

}  // namespace

// Always 1: nothing to prepare.
int cgiOnInit(void)
{
    return 1;
}

// Always 0: uploaded bodies are not kept.
int cgiOnRecvFormFile(char* pbuffer, int len, int end)
{
    (void)pbuffer;
    (void)len;
    (void)end;
    return 0;
}

// 0 when the request was saved (and, with ENVC_IN, came back unchanged);
// 1 on a failed restore, save or comparison; 2 when ENVC_OUT is not set.
int cgiMain(void)
{
    const char* in = std::getenv("ENVC_IN");
    const char* out = std::getenv("ENVC_OUT");
    if (out == nullptr) {
        std::fprintf(stderr, "envc_roundtrip: ENVC_OUT is not set\n");
        return 2;
    }
    if (in != nullptr) {
        cgiEnvironmentResultType r = cgiReadEnvironment(in);
        if (r != cgiEnvironmentSuccess) {
            std::fprintf(stderr, "envc_roundtrip: restoring %s gave %d\n", in, static_cast<int>(r));
            return 1;
        }
    }
    cgiEnvironmentResultType w = cgiWriteEnvironment(out);
    if (w != cgiEnvironmentSuccess) {
        std::fprintf(stderr, "envc_roundtrip: saving %s gave %d\n", out, static_cast<int>(w));
        return 1;
    }
    if (in != nullptr && !sameBytes(in, out)) {
        std::fprintf(stderr, "envc_roundtrip: %s saved again differs from it\n", in);
        return 1;
    }
    return 0;
}
