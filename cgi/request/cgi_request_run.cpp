// cgi_request_run.cpp - one request from start to end: capture of the CGI
// environment, the initialisation hook, dispatch to the form decoders, the
// handler, and the clean-up.
#include "cgi_request_internal.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// Copies CONTENT_TYPE into cgiContentTypeData, cut to 1023 characters, and splits it.
void captureContentType()
{
    const char* env = getenv("CONTENT_TYPE");
    size_t n = env ? strnlen(env, sizeof cgiContentTypeData - 1) : 0;
    if (n)
        memcpy(cgiContentTypeData, env, n);
    cgiContentTypeData[n] = '\0';
    cgiSplitContentType();
}

// Leading decimal number of CONTENT_LENGTH, 0 when unset or not numeric.
int captureContentLength()
{
    const char* env = getenv("CONTENT_LENGTH");
    return env ? cgiAtoi(env) : 0;
}

// The two POST body types that are decoded, with their trace names.
struct PostDecoder {
    const char* contentType;
    const char* traceName;
    cgiParseResultType (*parse)(void);
};
constexpr PostDecoder kPostDecoders[] = {
    {"application/x-www-form-urlencoded", "PostFormInput", cgiParsePostFormInput},
    {"multipart/form-data", "PostMultipartInput", cgiParsePostMultipartInput},
};

// Decodes the form data that the method and content type call for, writing
// the dispatch trace lines; success when nothing is to be decoded.
cgiParseResultType decodeFormData()
{
    if (cgiStrEqNc(cgiRequestMethod, "post")) {
        for (const PostDecoder& d : kPostDecoders) {
            if (!cgiStrEqNc(cgiContentType, d.contentType))
                continue;
            cgiTrace("POST recognized\nCalling %s\n", d.traceName);
            cgiParseResultType r = d.parse();
            cgiTrace("%s %s\n", d.traceName, r == cgiParseSuccess ? "succeeded" : "failed");
            return r;
        }
        cgiTrace("POST recognized\n");
        return cgiParseSuccess;
    }
    if (cgiStrEqNc(cgiRequestMethod, "get")) {
        cgiContentLength = static_cast<int>(strnlen(cgiQueryString, INT_MAX));
        cgiParseResultType r = cgiParseGetFormInput();
        cgiTrace("GetFormInput %s\n", r == cgiParseSuccess ? "succeeded" : "failed");
        return r;
    }
    return cgiParseSuccess;
}

}  // namespace

int cgiRunRequest(void)
{
    cgiSetupConstants();
    for (int i = 0; i < kCgiContentTypeIndex; i++)
        cgiGetenv(cgiRequestVariables[i].var, cgiRequestVariables[i].env);
    captureContentType();
    cgiContentLength = captureContentLength();
    for (int i = kCgiContentTypeIndex + 1; i < kCgiRequestVariableCount; i++)
        cgiGetenv(cgiRequestVariables[i].var, cgiRequestVariables[i].env);
    cgiTrace("cgiContentLength: %d\n%s\n%s\n", cgiContentLength, cgiRequestMethod, cgiContentType);

    cgiFreeEntries();
    cgiIn = stdin;
    // The decoders read in large blocks of their own; unbuffered, stdin then
    // never takes a byte beyond the body from the web server's pipe.
    setvbuf(stdin, nullptr, _IONBF, 0);
    cgiOut = stdout;
    cgiRestored = 0;
    if (cgiOnInit() < 0) {
        cgiFreeResources();
        return 0;
    }
    if (decodeFormData() != cgiParseSuccess) {
        cgiFreeResources();
        return -1;
    }
    int result = cgiMain();
    cgiFreeResources();
    return result;
}
