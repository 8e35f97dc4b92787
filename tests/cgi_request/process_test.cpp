// process_test.cpp - drives the test application through the real process
// entry point as a web server does: environment, body on stdin, then checks
// exit status, response bytes, trace lines, stdin consumption and that no
// temporary file outlives the process (/tmp is private here: ns-run).
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "cgi_request_limits.h"
#include "child_process.h"

using namespace testproc;

namespace {

const char kTrace[] = "/var/www/cgidebug";
const std::string kHeader = "Content-type: text/plain\r\n\r\n";

struct RunResult {
    int status;         // exit status
    std::string out;    // everything written to stdout
    off_t consumed;     // stdin bytes the process took
    std::string trace;  // the trace file after the run
};

RunResult runApp(std::vector<std::string> env, const std::string& body)
{
    fclose(fopen(kTrace, "w"));
    Launch l{{CGI_REQUEST_APP}};
    l.env = std::move(env);
    l.stdinFd = inputFd(body);
    const Outcome o = run(l, 20000);
    RunResult r{o.status, o.out, lseek(l.stdinFd, 0, SEEK_CUR), readFile(kTrace)};
    close(l.stdinFd);
    return r;
}

std::vector<std::string> multipartEnv(size_t length, const std::string& boundary = "XyZ")
{
    return {"REQUEST_METHOD=POST", "CONTENT_TYPE=multipart/form-data; boundary=" + boundary,
            "CONTENT_LENGTH=" + std::to_string(length), "APP_STATUS=5"};
}

std::string part(const std::string& disposition, const std::string& body,
                 const std::string& boundary = "XyZ")
{
    return "--" + boundary + "\r\nContent-Disposition: " + disposition + "\r\n\r\n" + body + "\r\n";
}

class RequestProcess : public ::testing::Test {
  protected:
    void SetUp() override
    {
        if (!getenv("ZEL_IN_NS"))
            GTEST_SKIP() << "needs the namespace runner";
    }
    void TearDown() override { EXPECT_EQ(tmpFiles(), std::set<std::string>{}); }
};

TEST_F(RequestProcess, DispatchAndUrlEncodedBodies)
{
    const std::string none = "calls=0 bytes=0 fnv=811c9dc5\n";
    const std::string form = "CONTENT_TYPE=application/x-www-form-urlencoded";
    const struct {
        const char* what;
        std::vector<std::string> env;
        std::string body;
        int status;
        std::string out;  // after the header; "" means no output at all
        off_t consumed;
    } cases[] = {
        {"GET query in order",
         {"REQUEST_METHOD=GET", "QUERY_STRING=a=1&b=2&a=3", "APP_STATUS=7", "REMOTE_USER=bob"},
         "",
         7,
         "method=GET type= boundary= length=11 user=bob\n" + none +
             "entry [a] [1] 1 [] [] tfile=0 \nentry [b] [2] 1 [] [] tfile=0 \nentry [a] [3] 1 [] "
             "[] tfile=0 \n",
         0},
        {"POST body, the rest unread",
         {"REQUEST_METHOD=Post", "CONTENT_TYPE=Application/X-WWW-Form-Urlencoded",
          "CONTENT_LENGTH=13"},
         "x=%41%4a+b&y=tail-not-read",
         0,
         "method=Post type=Application/X-WWW-Form-Urlencoded boundary= length=13 user=\n" + none +
             "entry [x] [AJ b] 4 [] [] tfile=0 \nentry [y] [] 0 [] [] tfile=0 \n",
         13},
        {"body shorter than its length",
         {"REQUEST_METHOD=POST", form, "CONTENT_LENGTH=10"},
         "a=1",
         255,
         "",
         3},
        {"negative length", {"REQUEST_METHOD=POST", form, "CONTENT_LENGTH=-5"}, "a=1", 255, "", 0},
        {"enormous length",
         {"REQUEST_METHOD=POST", form, "CONTENT_LENGTH=99999999999"},
         "a=1",
         255,
         "",
         3},
        {"other content type",
         {"REQUEST_METHOD=POST", "CONTENT_TYPE=text/plain", "CONTENT_LENGTH=3"},
         "a=1",
         0,
         "method=POST type=text/plain boundary= length=3 user=\n" + none,
         0},
        {"init cancels",
         {"REQUEST_METHOD=POST", form, "CONTENT_LENGTH=3", "APP_INIT=-1"},
         "a=1",
         0,
         "",
         0},
    };
    for (const auto& c : cases) {
        RunResult r = runApp(c.env, c.body);
        EXPECT_EQ(c.status, r.status) << c.what;
        EXPECT_EQ(c.out.empty() ? "" : kHeader + c.out, r.out) << c.what;
        EXPECT_EQ(c.consumed, r.consumed) << c.what;
    }
}

TEST_F(RequestProcess, TraceLinesOfUrlEncodedPost)
{
    RunResult r =
        runApp({"REQUEST_METHOD=POST", "CONTENT_TYPE=application/x-www-form-urlencoded; charset=x",
                "CONTENT_LENGTH=3"},
               "a=1");
    EXPECT_EQ(
        "cgiContentLength: 3\nPOST\napplication/x-www-form-urlencoded\nPOST recognized\n"
        "Calling PostFormInput\nPostFormInput succeeded\n",
        r.trace);
    r = runApp({"REQUEST_METHOD=GET", "QUERY_STRING=a"}, "");
    EXPECT_EQ("cgiContentLength: 0\nGET\n\nGetFormInput succeeded\n", r.trace);
}

TEST_F(RequestProcess, MultipartChunksEntriesAndTrace)
{
    const std::string file(2500, 'f'), even(2048, 'e');
    const std::string b =
        part("form-data; name=\"t\"", "val") +
        part("form-data; name=\"f\"; filename=\"a.bin\"\r\nContent-Type: image/png; q=1", file) +
        part("form-data; name=\"even\"; filename=\"e\"", even) +
        part("form-data; name=\"none\"", "") + "--XyZ--\r\nepilogue";
    const RunResult r = runApp(multipartEnv(b.size()), b + "beyond the length");
    ASSERT_EQ(5, r.status);
    uint32_t fnv = 2166136261u;
    for (unsigned char c : "val" + file + even)
        fnv = (fnv ^ c) * 16777619u;
    char hash[9];
    snprintf(hash, sizeof hash, "%08x", fnv);
    // The hook sees the bytes of the request not yet read when its part began.
    auto left = [&](const std::string& body) {
        return std::to_string(b.size() - b.find(body)) + "\n";
    };
    // Temporary file names vary: each listed "/tmp/cgiXXXXXX" becomes "T" (and must be gone).
    std::string out = r.out;
    for (size_t at; (at = out.find("/tmp/cgi")) != std::string::npos;)
        out.replace(at, 14, "T");
    EXPECT_EQ(kHeader + "method=POST type=multipart/form-data boundary=XyZ length=" +
                  std::to_string(b.size()) + " user=\ncalls=6 bytes=4551 fnv=" + hash +
                  "\nchunk 3 1 " + left("val") + "chunk 1024 0 " + left(file) + "chunk 1024 0 " +
                  left(file) + "chunk 452 1 " + left(file) + "chunk 1024 0 " + left(even) +
                  "chunk 1024 0 " + left(even) +
                  "entry [t] [] 3 [] [] tfile=0 \nentry [f] [] 2500 [a.bin] [image/png] tfile=1 T\n"
                  "entry [even] [] 2048 [e] [] tfile=1 T\nentry [none] [] 0 [] [] tfile=0 \n",
              out);
    EXPECT_LE(r.consumed, static_cast<off_t>(b.size()));
    EXPECT_EQ("cgiContentLength: " + std::to_string(b.size()) +
                  "\nPOST\nmultipart/form-data\nPOST recognized\nCalling PostMultipartInput\n"
                  "afterNextBoundary: first call.\nafterNextBoundary: end: 0 bytes to write.\n"
                  "afterNextBoundary: 2nd call.\nafterNextBoundary: end: 3 bytes to write.\n"
                  "afterNextBoundary: 2nd call.\nafterNextBoundary: end: 452 bytes to write.\n"
                  "afterNextBoundary: 2nd call.\nafterNextBoundary: end: 0 bytes to write.\n"
                  "afterNextBoundary: 2nd call.\nafterNextBoundary: end: 0 bytes to write.\n"
                  "PostMultipartInput succeeded\n",
              r.trace);
}

TEST_F(RequestProcess, MultipartFailures)
{
    const std::string b =
        part("form-data; name=\"f\"; filename=\"x\"", std::string(3000, 'x')) + "--XyZ--\r\n";
    const struct {
        const char* what;
        std::string body;
        size_t length;
        const char* refuse;
        int status;
        const char* out;  // expected part of the output
    } cases[] = {
        {"hook refuses a file chunk", b, b.size(), "APP_REFUSE=2", 255, ""},
        {"hook refuses the preamble", "pre" + b, b.size() + 3, "APP_REFUSE=1", 5, "calls=1 "},
        {"body ends before the delimiter", b.substr(0, b.size() - 12), b.size(), "", 255, ""},
        // Without a delimiter only the preamble's full chunks reach the hook.
        {"boundary never comes", std::string(5000, 'z'), 5000, "", 5, "calls=4 bytes=4096 "},
    };
    for (const auto& c : cases) {
        std::vector<std::string> env = multipartEnv(c.length);
        env.push_back(c.refuse);
        const RunResult r = runApp(env, c.body);
        EXPECT_EQ(c.status, r.status) << c.what;
        if (c.status == 255) {
            EXPECT_EQ("", r.out) << c.what;
        }
        EXPECT_NE(std::string::npos, r.out.find(c.out)) << c.what;
        EXPECT_EQ(tmpFiles(), std::set<std::string>{}) << c.what;
    }
}

TEST_F(RequestProcess, BodyCutAnywhere)
{
    const std::string b = part("form-data; name=\"a\"", "12") +
                          part("form-data; name=\"f\"; filename=\"x\"", "\r\n--Xy\r\n") +
                          "--XyZ--\r\n";
    for (size_t cut = 0; cut <= b.size(); cut++) {
        const RunResult r = runApp(multipartEnv(b.size()), b.substr(0, cut));
        ASSERT_TRUE(r.status == 5 || (r.status == 255 && r.out.empty()))
            << "cut " << cut << " status " << r.status;
        ASSERT_EQ(tmpFiles(), std::set<std::string>{}) << cut;
    }
}

TEST_F(RequestProcess, LongestBoundaryAndLongHeaderLine)
{
    const std::string boundary(CGI_MAX_BOUNDARY, 'B');
    const std::string b =
        part("form-data; name=\"" + std::string(200000, 'n') + "\"", "v", boundary) + "--" +
        boundary + "--";
    RunResult r = runApp(multipartEnv(b.size(), boundary), b);
    ASSERT_EQ(5, r.status);
    EXPECT_NE(std::string::npos,
              r.out.find("entry [" + std::string(1023 - 17, 'n') + "] [] 1 [] []"));
}

}  // namespace
