// hostile_test.cpp - requests and device objects shaped by an attacker, run
// through the real programs as the web server runs them: floods past the
// request limits, a trace file that is no regular file, device segments too
// small for their records. Each must end in a clear failure (or go on
// unharmed), leave no temporary file, and stay within the memory bound the
// limits give, taken from outside as the child's peak resident memory.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cgi_cfg_access.h"
#include "cgi_cfg_session.h"
#include "cgi_request_limits.h"
#include "child_process.h"

using namespace testproc;

namespace {

const char kTrace[] = "/var/www/cgidebug";
const char kBoundary[] = "XyZ";

// Peak memory beyond the request's own bound: the multipart read window,
// stdio and allocator slack. The sanitizer's redzones, shadow and quarantine
// multiply what the program holds, so there only the order of size is checked.
#if defined(__SANITIZE_ADDRESS__)
constexpr long kHeldFactor = 4;
#else
constexpr long kHeldFactor = 1;
#endif
constexpr long kSlackKiB = 512;

std::string repeat(const std::string& s, size_t n)
{
    std::string out;
    out.reserve(s.size() * n);
    for (size_t i = 0; i < n; i++)
        out += s;
    return out;
}

// n multipart parts, each a file part (with a one-byte body) or a text field.
std::string parts(size_t n, bool files, const std::string& boundary = kBoundary)
{
    const std::string head = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"f\"" +
                             (files ? "; filename=\"a\"" : "") + "\r\n\r\nx\r\n";
    return repeat(head, n) + "--" + boundary + "--\r\n";
}

struct Flood {
    const char* name;
    const char* method;       // "POST" or "GET"
    std::string contentType;  // POST body type
    std::string data;         // the body, or the query string of a GET
    int status;               // expected exit status
    const char* traceEnd;     // the decoding line that ends the trace
    size_t entries;           // entries the application lists on success
};

std::vector<Flood> floods()
{
    const char* kUrl = "application/x-www-form-urlencoded";
    const std::string mp = std::string("multipart/form-data; boundary=") + kBoundary;
    const std::string longBoundary(CGI_MAX_BOUNDARY, '-');
    return {
        {"tinyRequest", "GET", "", "a=1", 0, "GetFormInput succeeded\n", 1},
        {"fieldsAtLimit", "POST", kUrl, repeat("a=&", CGI_MAX_FIELDS), 0,
         "PostFormInput succeeded\n", CGI_MAX_FIELDS},
        {"fieldsPastLimit", "POST", kUrl, repeat("a=&", CGI_MAX_FIELDS + 1), 255,
         "PostFormInput failed\n", 0},
        {"fiveMillionEmptyFields", "POST", kUrl, repeat("=&", 5000000), 255,
         "PostFormInput failed\n", 0},
        {"valuePastByteLimit", "POST", kUrl, "v=" + std::string(CGI_MAX_ENTRY_BYTES, 'x'), 255,
         "PostFormInput failed\n", 0},
        {"queryPastFieldLimit", "GET", "", repeat("=&", CGI_MAX_FIELDS + 1), 255,
         "GetFormInput failed\n", 0},
        {"filePartsAtLimit", "POST", mp, parts(CGI_MAX_FILE_PARTS, true), 0,
         "PostMultipartInput succeeded\n", CGI_MAX_FILE_PARTS},
        {"filePartsPastLimit", "POST", mp, parts(CGI_MAX_FILE_PARTS + 1, true), 255,
         "PostMultipartInput failed\n", 0},
        {"190000TinyFileParts", "POST", mp, parts(190000, true), 255, "PostMultipartInput failed\n",
         0},
        {"textPartsPastLimit", "POST", mp, parts(CGI_MAX_FIELDS + 1, false), 255,
         "PostMultipartInput failed\n", 0},
        {"boundaryAtLimit", "POST", "multipart/form-data; boundary=" + longBoundary,
         parts(1, true, longBoundary), 0, "PostMultipartInput succeeded\n", 1},
        {"boundaryPastLimit", "POST", "multipart/form-data; boundary=" + longBoundary + "-",
         parts(1, false, longBoundary + "-"), 255, "PostMultipartInput failed\n", 0},
        {"preambleAtLimit", "POST", mp, std::string(CGI_MAX_PREAMBLE, 'p') + parts(1, true), 0,
         "PostMultipartInput succeeded\n", 1},
        // Near misses of an all-hyphen delimiter: the costliest preamble.
        {"hyphenPreamblePastLimit", "POST", "multipart/form-data; boundary=" + longBoundary,
         repeat(longBoundary + "-x", CGI_MAX_PREAMBLE / 70) + parts(1, false, longBoundary), 255,
         "PostMultipartInput failed\n", 0},
    };
}

struct AppRun {
    Outcome o;
    std::string trace;
    long peakKiB;  // the program's peak resident memory
};

// True under a cross build's emulator, which the child helper puts in front
// of every program started: a host program such as GNU time cannot be
// started through it, and the peak would be the emulator's own anyway.
bool emulated()
{
    const char* e = getenv("ZEL_EMULATOR");
    return e && *e;
}

// Runs the request layer's test application as the web server would, under
// GNU time, which forks it from its own small image and reports the peak
// resident memory of that process alone (-1: not measured, when emulated).
AppRun runApp(const Flood& f)
{
    const char kPeak[] = "/var/www/peak";
    fclose(fopen(kTrace, "w"));
    const bool post = std::string(f.method) == "POST";
    Launch l{emulated() ? std::vector<std::string>{CGI_REQUEST_APP}
                        : std::vector<std::string>{"/usr/bin/time", "-f", "%M", "-o", kPeak,
                                                   CGI_REQUEST_APP}};
    l.env = cgiEnv(nullptr, f.method, post ? "" : f.data);
    if (post) {
        l.env.push_back("CONTENT_TYPE=" + f.contentType);
        l.env.push_back("CONTENT_LENGTH=" + std::to_string(f.data.size()));
    }
    l.stdinFd = inputFd(post ? f.data : "");
    AppRun r{run(l, 60000), readFile(kTrace), -1};
    close(l.stdinFd);
    if (emulated())
        return r;
    // The figure is the last line; a failed command gets a notice line first.
    const std::string peak = readFile(kPeak);
    r.peakKiB = atol(peak.c_str() + peak.rfind('\n', peak.size() - 2) + 1);
    return r;
}

size_t count(const std::string& s, const std::string& what)
{
    size_t n = 0;
    for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1))
        n++;
    return n;
}

bool endsWith(const std::string& s, const std::string& end)
{
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

class Hostile : public ::testing::Test {
  protected:
    void SetUp() override
    {
        if (!getenv("ZEL_IN_NS"))
            GTEST_SKIP() << "needs the namespace runner";
    }
    void TearDown() override { EXPECT_EQ(tmpFiles(), std::set<std::string>{}); }
};

// Every flood fails before it outgrows the bound: the URL-encoded body
// (held whole) or nothing of a multipart body (streamed), plus the bytes of
// entries the limits allow.
TEST_F(Hostile, FloodsFailWithinTheBound)
{
    long baseKiB = 0;
    for (const Flood& f : floods()) {
        const AppRun r = runApp(f);
        EXPECT_EQ(f.status, r.o.status) << f.name;
        EXPECT_TRUE(endsWith(r.trace, f.traceEnd)) << f.name << ": " << r.trace;
        if (f.status == 0) {
            EXPECT_EQ(f.entries, count(r.o.out, "\nentry ")) << f.name;
            EXPECT_EQ(f.entries * (f.contentType[0] == 'm'), count(r.o.out, " tfile=1 ")) << f.name;
        } else {
            EXPECT_EQ("", r.o.out) << f.name;
        }
        if (emulated())
            continue;  // memory is measured by the native runs
        if (baseKiB == 0)
            baseKiB = r.peakKiB;
        const long heldKiB = static_cast<long>(f.contentType[0] == 'a' ? f.data.size() : 0) / 1024;
        const long boundKiB =
            baseKiB + kHeldFactor * (heldKiB + CGI_MAX_ENTRY_BYTES / 1024) + kSlackKiB;
        EXPECT_GT(r.peakKiB, 0) << f.name;
        EXPECT_LE(r.peakKiB, boundKiB) << f.name;
        printf("%-24s body %9zu B  status %3d  peak %6ld KiB  bound %6ld KiB\n", f.name,
               f.data.size(), r.o.status, r.peakKiB, boundKiB);
    }
}

// A trace file that is a symbolic link, a FIFO (with or without a reader) or
// a folder counts as one that cannot be opened: nothing is written through
// it, nothing blocks, and the request goes on.
TEST_F(Hostile, TraceFileThatIsNoRegularFile)
{
    const char kTarget[] = "/var/www/target";
    const struct {
        const char* name;
        int (*make)(const char* path, const char* target);
        bool reader;  // a FIFO that the test holds open for reading
    } cases[] = {
        {"symlink", [](const char* p, const char* t) { return symlink(t, p); }, false},
        {"fifo", [](const char* p, const char*) { return mkfifo(p, 0666); }, false},
        {"fifoWithReader", [](const char* p, const char*) { return mkfifo(p, 0666); }, true},
        {"folder", [](const char* p, const char*) { return mkdir(p, 0700); }, false},
    };
    unlink(kTrace);
    for (const auto& c : cases) {
        fclose(fopen(kTarget, "w"));
        ASSERT_EQ(0, c.make(kTrace, kTarget)) << c.name;
        const int reader = c.reader ? open(kTrace, O_RDONLY | O_NONBLOCK) : -1;
        Launch l{{CGI_REQUEST_APP}};
        l.env = cgiEnv(nullptr, "GET", "a=1");
        const Outcome o = run(l, 20000);
        EXPECT_EQ(0, o.status) << c.name;
        EXPECT_NE(std::string::npos, o.out.find("\nentry [a] [1] 1 ")) << c.name;
        EXPECT_EQ("", readFile(kTarget)) << c.name;
        char byte;
        if (reader >= 0) {
            EXPECT_EQ(0, read(reader, &byte, 1)) << c.name;  // no writer left, nothing written
            close(reader);
        }
        ASSERT_EQ(0, std::string(c.name) == "folder" ? rmdir(kTrace) : unlink(kTrace)) << c.name;
        unlink(kTarget);
    }
}

// Device objects whose segment is smaller than its records: the viewer for
// the configuration and the session client for each session table report
// that they cannot attach instead of reading past the end.
TEST_F(Hostile, SegmentsSmallerThanTheirRecords)
{
    const std::string kCannot = "10|Could not attach memory segment requested\n";
    const struct {
        const char* name;
        std::vector<std::string> argv;
        size_t config, search, diskMap;  // segment sizes of keys 1632, 1633, 1634
        int status;
        std::string err;  // standard error, or its start for the session client
    } cases[] = {
        {"viewer",
         {ZEL_CGI},
         CFG_SEGMENT_MIN_SIZE - 1,
         0,
         0,
         255,
         kCannot + "Info ---- failed to get shm pointer.: Invalid argument\n"},
#ifdef ZEL_DVRSESSION
        {"searchTable",
         {ZEL_DVRSESSION, "clock"},
         CFG_SEGMENT_MIN_SIZE,
         SCH_TABLE_SIZE - 1,
         DA_TABLE_SIZE,
         2,
         kCannot + "dvrsession: "},
        {"diskMapTable",
         {ZEL_DVRSESSION, "clock"},
         CFG_SEGMENT_MIN_SIZE,
         SCH_TABLE_SIZE,
         DA_TABLE_SIZE - 1,
         2,
         kCannot + "dvrsession: "},
#endif
    };
    for (const auto& c : cases) {
        const int msg = msgget(1632, IPC_CREAT | 0666), sem = semget(1632, 1, IPC_CREAT | 0666);
        std::vector<int> shms;
        const std::pair<key_t, size_t> segments[] = {
            {1632, c.config}, {SCH_SHM_KEY, c.search}, {DA_SHM_KEY, c.diskMap}};
        for (const auto& [key, size] : segments)
            if (size)
                shms.push_back(shmget(key, size, IPC_CREAT | 0666));
        Launch l{c.argv};
        l.env = cgiEnv("admin", "GET");
        const Outcome o = run(l, 20000);
        msgctl(msg, IPC_RMID, nullptr);
        semctl(sem, 0, IPC_RMID);
        for (int id : shms)
            shmctl(id, IPC_RMID, nullptr);
        EXPECT_EQ(c.status, o.status) << c.name;
        EXPECT_EQ(c.err, o.err.substr(0, c.err.size())) << c.name;
        EXPECT_EQ(c.status == 255 ? "Content-type: text/html\r\n\r\n" : "", o.out) << c.name;
    }
}

}  // namespace
