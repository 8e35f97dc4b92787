// envcdump_test.cpp - the capture dump tool on a good capture, a cut one and
// one of another version: its output lines and exit status.
#include "cgi_request_internal.h"
#include "child_process.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char kCapture[] = "/var/www/dump.env";

// Runs the tool on path; returns its stdout and stores its exit status.
std::string dump(const char* path, int* status)
{
    const testproc::Outcome o = testproc::run({{ENVCDUMP, path}});
    *status = o.status;
    return o.out;
}

TEST(Envcdump, PrintsVariablesAndEntries)
{
    if (!getenv("ZEL_IN_NS"))
        GTEST_SKIP() << "needs the namespace runner";
    char user[] = "bob", ua[] = "ag\"ent\x01";
    cgiRemoteUser = user;
    cgiUserAgent = ua;
    cgiContentLength = 42;
    char tfile[1024];
    ASSERT_EQ(cgiParseSuccess, getTempFileName(tfile));
    FILE* f = fopen(tfile, "wb");
    fputs("12345", f);
    fclose(f);
    cgiAppendEntry(cgiNewEntry("a", "1", 1, "", "", ""));
    cgiAppendEntry(cgiNewEntry("up", "", 5, "x.png", "image/png", tfile));
    ASSERT_EQ(cgiEnvironmentSuccess, cgiWriteEnvironment(kCapture));
    cgiFreeResources();

    int status = -1;
    std::string out = dump(kCapture, &status);
    EXPECT_EQ(0, status);
    const char* lines[] = {
        "version: ENVC2.0\n",
        "REMOTE_USER: \"bob\"\n",
        "HTTP_USER_AGENT: \"ag\\\"ent\\x01\"\n",
        "CONTENT_TYPE: \"\"\n",
        "CONTENT_LENGTH: 42\n",
        "[1] name \"a\" value \"1\" valueLength 1 no contents\n",
        "[2] name \"up\" value \"\" valueLength 5 file \"x.png\" type \"image/png\" contents 5 "
        "bytes\n",
        "entries: 2\n",
    };
    for (const char* l : lines)
        EXPECT_NE(std::string::npos, out.find(l)) << l << " in\n" << out;

    truncate(kCapture, 30);
    EXPECT_EQ("", dump(kCapture, &status));
    EXPECT_EQ(1, status);
    f = fopen(kCapture, "wb");
    fwrite("\0\0\0\7ENVC1.0", 1, 11, f);
    fclose(f);
    EXPECT_EQ("", dump(kCapture, &status));
    EXPECT_EQ(1, status);
}

}  // namespace
