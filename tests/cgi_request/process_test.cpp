// process_test.cpp - the test application run as a web server runs it: exit
// status, printed request and hook calls, trace, stdin consumed, no temporary
// file left in the private /tmp.
#include <gtest/gtest.h>

#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "cgi_request_limits.h"
#include "child_process.h"

using namespace testproc;

namespace {

std::string multipartEnv(size_t length, const std::string& boundary = "XyZ")
{
    return "REQUEST_METHOD=POST|CONTENT_TYPE=multipart/form-data; boundary=" + boundary +
           "|CONTENT_LENGTH=" + std::to_string(length) + "|APP_STATUS=5";
}

std::string part(const std::string& headers, const std::string& body,
                 const std::string& boundary = "XyZ")
{
    return "--" + boundary + "\r\n" + headers + "\r\n\r\n" + body + "\r\n";
}

TEST(RequestProcess, Requests)
{
    if (!getenv("ZEL_IN_NS"))
        GTEST_SKIP() << "needs the namespace runner";
    // A field needs a '=' (a name runs up to it) and ends at the next '&'.
    const std::string query = "a=1&b&c=2&&d=x&n%61me+1=v=w&e=%zz&f=%4&a=ab%00cd&g";
    const std::string form = "REQUEST_METHOD=POST|CONTENT_TYPE=application/x-www-form-urlencoded";
    const std::string cd = "Content-Disposition: form-data; ";
    const std::string file = part(cd + "name=\"f\"; filename=\"x\"", std::string(3000, 'x'));
    const std::string textAndFile = part(cd + "name=\"t\"", "1") + file + "--XyZ--\r\n";
    const std::string longest(CGI_MAX_BOUNDARY, 'B');
    const std::string longHeader =
        part(cd + "name=\"" + std::string(200000, 'n') + "\"", "v", longest) + "--" + longest +
        "--";
    // Parts of 3, 2500 and 2048 bytes and an empty one: the hook sees full
    // 1024-byte chunks, then the rest with the end flag, each with the bytes
    // of the request not yet read when its part began.
    const std::string f2500(2500, 'f'), e2048(2048, 'e');
    const std::string four =
        part(cd + "name=\"t\"", "val") +
        part(cd + "name=\"f\"; filename=\"a.bin\"\r\nContent-Type: image/png; q=1", f2500) +
        part(cd + "name=\"even\"; filename=\"e\"", e2048) + part(cd + "name=\"none\"", "") +
        "--XyZ--\r\nepilogue";
    // Header forms, one part each: a loose header line, a later header that
    // wins, the value on the next line, parameter names (letters and digits;
    // one with other characters ends them), mixed case, text after the end.
    const std::string forms =
        part("  Content-Dispo sition :\t form-data; name=\"s\"\nX-A:1", "v") +
        part(cd + "name=\"a\"; filename=\"f\"\r\n" + cd + "name=\"b\"", "z") +
        "--XyZ\r\nContent-Disposition:\r\n\r\nform-data; name=\"v\"\r\nX-A: 1\r\n\r\nbody\r\n" +
        part(cd + "filename=\"x;y\"; name = \"s p\" tail ;x=1", "1") +
        part(cd + "name=bare ; my-name=\"z\"", "1") + part(cd + "my-name=\"z\"; name=a", "1") +
        part(
            "CONTENT-DISPOSITION: Form-Data; NAME=\"n\"; FILENAME=\"f\"\r\ncontent-type: "
            "text/plain; charset=x",
            "abc") +
        "--XyZ--\r\nmore\r\n--XyZ\r\n";
    auto chunk = [&](const char* lenEnd, const std::string& body) {
        return "chunk " + std::string(lenEnd) + " " +
               std::to_string(four.size() - four.find(body)) + "\n";
    };
    const struct {
        const char* what;
        std::string env, body;  // env: variables separated by '|'
        int status;
        std::string out;    // how the output ends; "": no output at all
        off_t consumed;     // stdin bytes taken; -1: at most CONTENT_LENGTH
        std::string trace;  // how the trace file begins; "": not checked
    } cases[] = {
        {"GET: fields in order, loose names, bad escapes",
         "REQUEST_METHOD=GET|QUERY_STRING=" + query + "|APP_STATUS=7|REMOTE_USER=bob", "", 7,
         "method=GET type= boundary= length=" + std::to_string(query.size()) +
             " user=bob\ncalls=0\nentry [a] [1] 1 [] [] -\nentry [b&c] [2] 1 [] [] -\n"
             "entry [&d] [x] 1 [] [] -\nentry [name 1] [v=w] 3 [] [] -\nentry [e] [] 0 [] [] -\n"
             "entry [f] [] 0 [] [] -\nentry [a] [ab] 2 [] [] -\n",
         0, "cgiContentLength: 0\nGET\n\nGetFormInput succeeded\n"},
        {"POST body, the rest unread",
         "REQUEST_METHOD=Post|CONTENT_TYPE=Application/X-WWW-Form-Urlencoded; charset=x|"
         "CONTENT_LENGTH=13",
         "x=%41%4a+b&y=tail-not-read", 0,
         "type=Application/X-WWW-Form-Urlencoded boundary= length=13 user=\ncalls=0\n"
         "entry [x] [AJ b] 4 [] [] -\nentry [y] [] 0 [] [] -\n",
         13,
         "cgiContentLength: 13\nPost\nApplication/X-WWW-Form-Urlencoded\nPOST recognized\n"
         "Calling PostFormInput\nPostFormInput succeeded\n"},
        {"negative length", form + "|CONTENT_LENGTH=-5", "a=1", 255, "", 0, ""},
        {"enormous length", form + "|CONTENT_LENGTH=99999999999", "a=1", 255, "", 3, ""},
        {"other content type", "REQUEST_METHOD=POST|CONTENT_TYPE=text/plain|CONTENT_LENGTH=3",
         "a=1", 0, "method=POST type=text/plain boundary= length=3 user=\ncalls=0\n", 0, ""},
        {"init cancels", form + "|CONTENT_LENGTH=3|APP_INIT=-1", "a=1", 0, "", 0, ""},
        {"four parts", multipartEnv(four.size()), four + "beyond the length", 5,
         "method=POST type=multipart/form-data boundary=XyZ length=" + std::to_string(four.size()) +
             " user=\ncalls=6\n" + chunk("3 1", "val") + chunk("1024 0", f2500) +
             chunk("1024 0", f2500) + chunk("452 1", f2500) + chunk("1024 0", e2048) +
             chunk("1024 0", e2048) +
             "entry [t] [] 3 [] [] -\nentry [f] [] 2500 [a.bin] [image/png] T\n"
             "entry [even] [] 2048 [e] [] T\nentry [none] [] 0 [] [] -\n",
         -1,
         "cgiContentLength: " + std::to_string(four.size()) +
             "\nPOST\nmultipart/form-data\nPOST recognized\nCalling PostMultipartInput\n"},
        {"header forms", multipartEnv(forms.size()), forms, 5,
         "\nentry [s] [] 1 [] [] -\nentry [b] [] 1 [] [] -\nentry [v] [] 4 [] [] -\n"
         "entry [s p] [] 1 [x;y] [] T\nentry [bare ] [] 1 [] [] -\nentry [] [] 1 [] [] -\n"
         "entry [n] [] 3 [f] [text/plain] T\n",
         -1, ""},
        {"hook refuses a file chunk", multipartEnv(textAndFile.size()) + "|APP_REFUSE=3",
         textAndFile, 255, "", -1, ""},
        {"hook refuses the preamble", multipartEnv(textAndFile.size() + 3) + "|APP_REFUSE=1",
         "pre" + textAndFile, 5, "calls=1\nchunk 3 1 0\n", -1, ""},
        {"no descriptor for a temporary file", multipartEnv(textAndFile.size()) + "|APP_NOFILE=1",
         textAndFile, 255, "", -1, ""},
        {"body ends before the delimiter", multipartEnv(textAndFile.size()),
         textAndFile.substr(0, textAndFile.size() - 12), 255, "", -1, ""},
        {"one byte after the delimiter", multipartEnv(file.size() + 6), file + "--XyZ-", 255, "",
         -1, ""},
        {"boundary never comes", multipartEnv(5000), std::string(5000, 'z'), 5,
         "calls=4\nchunk 1024 0 0\nchunk 1024 0 0\nchunk 1024 0 0\nchunk 1024 0 0\n", -1, ""},
        {"longest boundary, long header line", multipartEnv(longHeader.size(), longest), longHeader,
         5, "entry [" + std::string(1023 - 17, 'n') + "] [] 1 [] [] -\n", -1, ""},
    };
    const char kTrace[] = "/var/www/cgidebug";
    for (const auto& c : cases) {
        fclose(fopen(kTrace, "w"));
        Launch l{{CGI_REQUEST_APP}};
        std::istringstream vars(c.env);
        for (std::string v; std::getline(vars, v, '|');)
            l.env.push_back(v);
        l.stdinFd = inputFd(c.body);
        const Outcome o = run(l, 20000);
        EXPECT_EQ(c.status, o.status) << c.what;
        const size_t at = o.out.size() - std::min(o.out.size(), c.out.size());
        EXPECT_TRUE(c.out.empty() ? o.out.empty()
                                  : o.out.find("Content-type: text/plain\r\n\r\n") == 0 &&
                                        o.out.compare(at, std::string::npos, c.out) == 0)
            << c.what << ":\n"
            << o.out;
        const off_t consumed = lseek(l.stdinFd, 0, SEEK_CUR);
        close(l.stdinFd);
        EXPECT_TRUE(c.consumed >= 0
                        ? consumed == c.consumed
                        : consumed <= atoll(c.env.c_str() + c.env.find("CONTENT_LENGTH=") + 15))
            << c.what << " " << consumed;
        EXPECT_EQ(0u, c.trace.empty() ? 0 : readFile(kTrace).find(c.trace)) << c.what;
        EXPECT_EQ(tmpFiles(), std::set<std::string>{}) << c.what;
    }
}

}  // namespace
