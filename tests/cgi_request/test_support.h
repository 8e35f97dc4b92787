// test_support.h - helpers shared by the request layer's unit tests: a fresh
// request state, fields from a query string, entries with file contents, a
// recording upload hook, and capture of what the layer writes to cgiOut.
#ifndef CGI_REQUEST_TEST_SUPPORT_H
#define CGI_REQUEST_TEST_SUPPORT_H

#include "cgi_request_internal.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

// One call of the upload hook.
struct HookCall {
    std::string data;
    int end;
    bool operator==(const HookCall& o) const { return data == o.data && end == o.end; }
};
extern std::vector<HookCall> g_hookCalls;  // every call since resetRequest
extern int g_hookRefuseAt;                 // 1-based call that returns -1; 0: none

// Releases everything of the previous test and starts an empty request.
inline void resetRequest()
{
    cgiFreeResources();
    cgiSetupConstants();
    g_hookCalls.clear();
    g_hookRefuseAt = 0;
    cgiCookie = cgiEmptyString;
}

// A fresh request whose entries are the fields of query.
inline void loadQuery(const std::string& query)
{
    resetRequest();
    ASSERT_EQ(cgiParseSuccess, cgiParseFormInput(query.data(), static_cast<int>(query.size())));
}

// Appends an entry; with contents it owns a temporary file holding them.
inline void addEntry(const char* attr, const char* value, int valueLength, const char* fileName,
                     const char* contentType, const std::string* contents)
{
    char tfile[1024] = "";
    if (contents) {
        ASSERT_EQ(cgiParseSuccess, getTempFileName(tfile));
        FILE* f = fopen(tfile, "wb");
        fwrite(contents->data(), 1, contents->size(), f);
        fclose(f);
    }
    cgiAppendEntry(cgiNewEntry(attr, value, valueLength, fileName, contentType, tfile));
}

// A stdio stream reading bytes (tmpfile: works for empty and binary data).
inline FILE* streamOf(const std::string& bytes)
{
    FILE* f = tmpfile();
    fwrite(bytes.data(), 1, bytes.size(), f);
    rewind(f);
    return f;
}

// Runs f with cgiOut going to memory; returns what was written.
template <typename F>
std::string captureOut(F f)
{
    char* buf = nullptr;
    size_t len = 0;
    FILE* mem = open_memstream(&buf, &len);
    FILE* saved = cgiOut;
    cgiOut = mem;
    f();
    fclose(mem);
    cgiOut = saved;
    std::string s(buf, len);
    free(buf);
    return s;
}

#endif
