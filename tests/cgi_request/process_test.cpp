// process_test.cpp - drives the test application through the real process
// entry point as a web server does: environment, body on stdin, then checks
// exit status, response bytes, trace lines, stdin consumption and that no
// temporary file outlives the process. /tmp is a private tmpfs here (ns-run).
#include "temp_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct RunResult {
    int status = -1;      // exit status, or -1 when killed by a signal
    std::string out;      // everything written to stdout
    off_t consumed = 0;   // stdin bytes the process took
    std::string trace;    // the trace file after the run
};

std::string readFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

int tempFd(std::string content) {
    char name[] = "/tmp/body-XXXXXX";
    int fd = mkstemp(name);
    unlink(name);
    EXPECT_EQ(static_cast<ssize_t>(content.size()), write(fd, content.data(), content.size()));
    lseek(fd, 0, SEEK_SET);
    return fd;
}

RunResult runApp(std::vector<std::string> env, const std::string& body) {
    fclose(fopen("/var/www/cgidebug", "w"));
    int in = tempFd(body), out = tempFd("");
    // Under a cross build's emulator the application runs through it, and
    // the emulator needs its loader prefix in the cleared environment.
    const char* emulator = getenv("ZEL_EMULATOR");
    if (!emulator || !*emulator) emulator = nullptr;
    if (emulator && getenv("QEMU_LD_PREFIX")) env.push_back(std::string("QEMU_LD_PREFIX=") + getenv("QEMU_LD_PREFIX"));
    std::vector<char*> envp;
    for (std::string& s : env) envp.push_back(&s[0]);
    envp.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in, 0);
        dup2(out, 1);
        alarm(20);  // a hung request dies instead of hanging the suite
        char* argv[] = {const_cast<char*>(emulator), const_cast<char*>(CGI_REQUEST_APP), nullptr};
        char** args = emulator ? argv : argv + 1;
        execve(args[0], args, envp.data());
        _exit(127);
    }
    RunResult r;
    int ws = 0;
    waitpid(pid, &ws, 0);
    r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
    r.consumed = lseek(in, 0, SEEK_CUR);
    char buf[65536];
    lseek(out, 0, SEEK_SET);
    for (ssize_t n; (n = read(out, buf, sizeof buf)) > 0;) r.out.append(buf, n);
    close(in);
    close(out);
    r.trace = readFile("/var/www/cgidebug");
    return r;
}

const std::string kHeader = "Content-type: text/plain\r\n\r\n";

std::vector<std::string> multipartEnv(const std::string& body, const std::string& boundary = "XyZ") {
    return {"REQUEST_METHOD=POST", "CONTENT_TYPE=multipart/form-data; boundary=" + boundary,
            "CONTENT_LENGTH=" + std::to_string(body.size()), "APP_STATUS=5"};
}

std::string part(const std::string& disposition, const std::string& body, const std::string& boundary = "XyZ") {
    return "--" + boundary + "\r\nContent-Disposition: " + disposition + "\r\n\r\n" + body + "\r\n";
}

class RequestProcess : public ::testing::Test {
protected:
    void SetUp() override {
        if (!getenv("ZEL_IN_NS")) GTEST_SKIP() << "needs the namespace runner";
    }
    void TearDown() override { EXPECT_TRUE(leftoverTempFiles().empty()); }
};

struct DispatchCase {
    const char* what;
    std::vector<std::string> env;
    std::string body;
    int status;
    std::string out;  // expected stdout after the header; "" with status 255 means no output at all
    off_t consumed;
};

TEST_F(RequestProcess, DispatchAndUrlEncodedBodies) {
    const std::string noEntries = "calls=0 bytes=0 fnv=811c9dc5\n";
    const DispatchCase cases[] = {
        {"GET query in order", {"REQUEST_METHOD=GET", "QUERY_STRING=a=1&b=2&a=3", "APP_STATUS=7", "REMOTE_USER=bob"},
         "", 7,
         "method=GET type= boundary= length=11 user=bob\n" + noEntries +
             "entry [a] [1] 1 [] [] tfile=0 \nentry [b] [2] 1 [] [] tfile=0 \nentry [a] [3] 1 [] [] tfile=0 \n",
         0},
        {"POST body", {"REQUEST_METHOD=Post", "CONTENT_TYPE=Application/X-WWW-Form-Urlencoded", "CONTENT_LENGTH=13"},
         "x=%41%4a+b&y=tail-not-read", 0,
         "method=Post type=Application/X-WWW-Form-Urlencoded boundary= length=13 user=\n" + noEntries +
             "entry [x] [AJ b] 4 [] [] tfile=0 \nentry [y] [] 0 [] [] tfile=0 \n",
         13},
        {"body shorter than its length", {"REQUEST_METHOD=POST", "CONTENT_TYPE=application/x-www-form-urlencoded",
                                          "CONTENT_LENGTH=10"}, "a=1", 255, "", 3},
        {"negative length", {"REQUEST_METHOD=POST", "CONTENT_TYPE=application/x-www-form-urlencoded",
                             "CONTENT_LENGTH=-5"}, "a=1", 255, "", 0},
        {"enormous length", {"REQUEST_METHOD=POST", "CONTENT_TYPE=application/x-www-form-urlencoded",
                             "CONTENT_LENGTH=99999999999"}, "a=1", 255, "", 3},
        {"other content type", {"REQUEST_METHOD=POST", "CONTENT_TYPE=text/plain", "CONTENT_LENGTH=3"}, "a=1", 0,
         "method=POST type=text/plain boundary= length=3 user=\n" + noEntries, 0},
        {"HEAD", {"REQUEST_METHOD=HEAD", "QUERY_STRING=a=1"}, "", 0,
         "method=HEAD type= boundary= length=0 user=\n" + noEntries, 0},
        {"space before ';'", {"REQUEST_METHOD=POST", "CONTENT_TYPE=multipart/form-data ; boundary=q",
                              "CONTENT_LENGTH=4"}, "--q--", 0,
         "method=POST type=multipart/form-data  boundary=q length=4 user=\n" + noEntries, 0},
        {"init cancels", {"REQUEST_METHOD=POST", "CONTENT_TYPE=application/x-www-form-urlencoded",
                          "CONTENT_LENGTH=3", "APP_INIT=-1"}, "a=1", 0, "", 0},
    };
    for (const DispatchCase& c : cases) {
        RunResult r = runApp(c.env, c.body);
        EXPECT_EQ(c.status, r.status) << c.what;
        EXPECT_EQ(c.out.empty() ? "" : kHeader + c.out, r.out) << c.what;
        EXPECT_EQ(c.consumed, r.consumed) << c.what;
    }
}

TEST_F(RequestProcess, TraceLinesOfUrlEncodedPost) {
    RunResult r = runApp({"REQUEST_METHOD=POST", "CONTENT_TYPE=application/x-www-form-urlencoded; charset=x",
                    "CONTENT_LENGTH=3"}, "a=1");
    EXPECT_EQ("cgiContentLength: 3\nPOST\napplication/x-www-form-urlencoded\nPOST recognized\n"
              "Calling PostFormInput\nPostFormInput succeeded\n", r.trace);
    r = runApp({"REQUEST_METHOD=GET", "QUERY_STRING=a"}, "");
    EXPECT_EQ("cgiContentLength: 0\nGET\n\nGetFormInput succeeded\n", r.trace);
}

TEST_F(RequestProcess, MultipartChunksEntriesAndTrace) {
    const std::string file(2500, 'f');
    std::string b = part("form-data; name=\"t\"", "val") +
                    part("form-data; name=\"f\"; filename=\"a.bin\"\r\nContent-Type: image/png; q=1", file) +
                    part("form-data; name=\"even\"; filename=\"e\"", std::string(2048, 'e')) +
                    part("form-data; name=\"none\"", "") + "--XyZ--\r\nepilogue";
    RunResult r = runApp(multipartEnv(b), b + "beyond the length");
    ASSERT_EQ(5, r.status);
    std::istringstream lines(r.out.substr(kHeader.size()));
    std::string line, tfile, tfileEven;
    std::getline(lines, line);
    EXPECT_EQ("method=POST type=multipart/form-data boundary=XyZ length=" + std::to_string(b.size()) + " user=", line);
    std::getline(lines, line);
    EXPECT_EQ("calls=6 bytes=4551", line.substr(0, 18));
    const char* chunks[] = {"chunk 3 1 ", "chunk 1024 0 ", "chunk 1024 0 ", "chunk 452 1 ", "chunk 1024 0 ",
                            "chunk 1024 0 "};
    for (const char* c : chunks) {
        std::getline(lines, line);
        EXPECT_EQ(c, line.substr(0, strlen(c)));
    }
    std::getline(lines, line);
    EXPECT_EQ("entry [t] [] 3 [] [] tfile=0 ", line);
    std::getline(lines, line);
    const std::string filePrefix = "entry [f] [] 2500 [a.bin] [image/png] tfile=1 ";
    EXPECT_EQ(filePrefix, line.substr(0, filePrefix.size()));
    tfile = line.substr(filePrefix.size());
    std::getline(lines, line);
    const std::string evenPrefix = "entry [even] [] 2048 [e] [] tfile=1 /tmp/cgi";
    EXPECT_EQ(evenPrefix, line.substr(0, evenPrefix.size()));
    std::getline(lines, line);
    EXPECT_EQ("entry [none] [] 0 [] [] tfile=0 ", line);
    EXPECT_EQ(0u, tfile.find("/tmp/cgi"));
    EXPECT_NE(0, access(tfile.c_str(), F_OK));  // deleted at the end of the request
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

TEST_F(RequestProcess, MultipartFailuresLeaveNoOutputAndNoFiles) {
    const std::string b = part("form-data; name=\"f\"; filename=\"x\"", std::string(3000, 'x')) + "--XyZ--\r\n";
    struct {
        const char* what;
        std::string body;
        std::string refuse;
        int status;
    } cases[] = {
        {"hook refuses a file chunk", b, "APP_REFUSE=2", 255},
        {"hook refuses the preamble", "pre" + b, "APP_REFUSE=1", 5},
        {"body ends before the delimiter", b.substr(0, b.size() - 12), "", 255},
        {"boundary never comes", std::string(5000, 'z'), "", 5},
    };
    for (auto& c : cases) {
        std::vector<std::string> env = multipartEnv(b);
        if (!c.refuse.empty()) env.push_back(c.refuse);
        RunResult r = runApp(env, c.body);
        EXPECT_EQ(c.status, r.status) << c.what;
        if (c.status == 255) {
            EXPECT_EQ("", r.out) << c.what;
        }
        EXPECT_TRUE(leftoverTempFiles().empty()) << c.what;
    }
    // A preamble with no delimiter: only its full chunks reach the hook.
    RunResult r = runApp(multipartEnv(std::string(5000, 'z')), std::string(5000, 'z'));
    EXPECT_NE(std::string::npos, r.out.find("calls=4 bytes=4096"));
}

TEST_F(RequestProcess, BodyCutAnywhere) {
    const std::string b = part("form-data; name=\"a\"", "12") +
                          part("form-data; name=\"f\"; filename=\"x\"", "\r\n--Xy\r\n") + "--XyZ--\r\n";
    for (size_t cut = 0; cut <= b.size(); cut++) {
        RunResult r = runApp(multipartEnv(b), b.substr(0, cut));
        ASSERT_TRUE(r.status == 5 || r.status == 255) << "cut " << cut << " status " << r.status;
        if (r.status == 255) {
            EXPECT_EQ("", r.out) << cut;
        }
        ASSERT_TRUE(leftoverTempFiles().empty()) << cut;
    }
}

TEST_F(RequestProcess, LongestBoundaryAndLongHeaderLine) {
    const std::string prefix = "multipart/form-data; boundary=";
    const std::string boundary(1023 - prefix.size(), 'B');
    const std::string longName(200000, 'n');
    std::string b = part("form-data; name=\"" + longName + "\"", "v", boundary) + "--" + boundary + "--";
    RunResult r = runApp(multipartEnv(b, boundary), b);
    ASSERT_EQ(5, r.status);
    EXPECT_NE(std::string::npos, r.out.find("entry [" + std::string(1023 - 17, 'n') + "] [] 1 [] []"));
    // One character more is cut off with the content type: same boundary.
    r = runApp(multipartEnv(b, boundary + "C"), b);
    EXPECT_EQ(5, r.status);
    EXPECT_NE(std::string::npos, r.out.find("boundary=" + boundary + " length"));
}

}  // namespace
