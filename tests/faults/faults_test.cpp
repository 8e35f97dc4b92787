// faults_test.cpp - fault tests against the built programs: the simulator
// killed in the middle of a search, an upload and a disk-map request; a
// viewer process killed while it holds the device lock; a full /tmp during
// a multipart upload; a request body that stops early or stalls. Every
// suite runs in a private IPC namespace, /tmp and /var/www (ZEL_NS_RUN).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/msg.h>
#include <sys/ptrace.h>
#include <sys/sem.h>
#include <sys/syscall.h>
#include <sys/statvfs.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "child_process.h"

using namespace testproc;

namespace {

constexpr key_t kDeviceKey = 1632;
const char* const kTrace = "/var/www/cgidebug";

bool contains(const std::string& s, const std::string& part)
{
    return s.find(part) != std::string::npos;
}

// The device lock: semaphore 0 of the set with the device key.
int lockSemaphore()
{
    return semget(kDeviceKey, 0, 0);
}
int lockValue()
{
    return semctl(lockSemaphore(), 0, GETVAL);
}

// A viewer request for user admin as the web server starts it.
Launch cgiRequest(const std::string& method, const std::string& contentType = "", size_t length = 0,
                  int stdinFd = -1)
{
    Launch l{{ZEL_CGI}};
    l.env = cgiEnv("admin", method);
    if (!contentType.empty()) {
        l.env.push_back("CONTENT_TYPE=" + contentType);
        l.env.push_back("CONTENT_LENGTH=" + std::to_string(length));
    }
    l.cwd = ZEL_WEB_DIR;
    l.stdinFd = stdinFd;
    return l;
}

// The live view page for admin, as a plain GET gets it now.
Outcome livePage()
{
    std::remove(kTrace);
    return run(cgiRequest("GET"));
}

// ---- The simulator killed while a client waits for it ----

#ifdef ZEL_DVRSESSION
// True once the device queue holds a message nobody has taken, within `ms`.
bool messageQueued(int ms)
{
    const int q = msgget(kDeviceKey, 0);
    for (long long end = nowMs() + ms; nowMs() < end; pauseMs(10)) {
        msqid_ds ds{};
        if (q >= 0 && msgctl(q, IPC_STAT, &ds) == 0 && ds.msg_qnum > 0)
            return true;
    }
    return false;
}

struct KillCase {
    const char* name;
    std::vector<std::string> args;   // dvrsession arguments of the interrupted work
    const char* trigger;             // output that marks the middle; nullptr: stop the
                                     // simulator first and kill it once the request is queued
    int status;                      // the client's exit status after the kill
    const char* seen;                // what the client shows
    const char* never;               // what it must not show: a finished result
    std::vector<std::string> again;  // the same work on a restarted simulator
    const char* done;                // what that run shows
};

class SimulatorKilled : public ::testing::TestWithParam<KillCase> {};

TEST_P(SimulatorKilled, ClientEndsAndTheWorkRunsAgainAfterRestart)
{
    const KillCase& c = GetParam();
    Simulator sim;
    ASSERT_TRUE(sim.start());
    if (!c.trigger)
        sim.signal(SIGSTOP);
    Launch l{{ZEL_DVRSESSION}};
    l.argv.insert(l.argv.end(), c.args.begin(), c.args.end());
    Child client(l);
    if (c.trigger)
        ASSERT_TRUE(client.waitFor(c.trigger, 5000)) << client.out();
    else
        ASSERT_TRUE(messageQueued(5000));
    sim.signal(SIGKILL);
    const Outcome o = client.finish(15000);
    EXPECT_EQ(o.status, c.status) << o.out << o.err;
    EXPECT_TRUE(contains(o.out + o.err, c.seen)) << o.out << o.err;
    EXPECT_FALSE(contains(o.out, c.never)) << o.out;
    EXPECT_EQ(lockValue(), 1) << "the lock stayed taken";

    ASSERT_TRUE(sim.start({"--replace"}));
    Launch again{{ZEL_DVRSESSION, "--timeout", "10"}};
    again.argv.insert(again.argv.end(), c.again.begin(), c.again.end());
    const Outcome a = run(again, 15000);
    EXPECT_EQ(a.status, 0) << a.out << a.err;
    EXPECT_TRUE(contains(a.out, c.done)) << a.out;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SimulatorKilled,
    ::testing::Values(
        // The search freezes where it was: the client's visits go on, see no
        // progress and no end, and it stops after its visits.
        KillCase{"search",
                 {"--timeout", "10", "search", "--visits", "5"},
                 "visit 1:",
                 0,
                 "visit 5: progress",
                 "end 1",
                 {"search", "--visits", "30"},
                 "end 1, stop 1"},
        // Nobody takes the pieces: the client retries until its time limit.
        KillCase{"upload",
                 {"--timeout", "3", "upload", "--size", "400000000"},
                 "piece 1:",
                 3,
                 "upload: no answer from the device service within 3 s",
                 "status 0 (free)",
                 {"upload", "--size", "300000"},
                 "received 300000 of 300000 bytes"},
        // The disk-map wait has no bound of its own: the client's limit ends it.
        KillCase{"diskmap",
                 {"--timeout", "2", "map"},
                 nullptr,
                 3,
                 "map: no answer from the device service within 2 s",
                 "connection id",
                 {"map"},
                 "connection id"}),
    [](const ::testing::TestParamInfo<KillCase>& i) { return std::string(i.param.name); });
#endif

// ---- A viewer process killed while it holds the device lock ----

#if defined(__x86_64__)
// Runs the traced child to the end of its next semop (or semtimedop) call;
// false when it ended or did not get there within the stop budget.
bool toNextSemopExit(pid_t pid)
{
    bool inCall = false;
    for (int stops = 0; stops < 200000; ++stops) {
        int status = 0;
        if (ptrace(PTRACE_SYSCALL, pid, nullptr, nullptr) != 0 || waitpid(pid, &status, 0) != pid ||
            !WIFSTOPPED(status))
            return false;
        if (WSTOPSIG(status) != (SIGTRAP | 0x80))
            continue;
        user_regs_struct regs{};
        if (ptrace(PTRACE_GETREGS, pid, nullptr, &regs) != 0)
            return false;
        inCall = !inCall;
        if (!inCall && (regs.orig_rax == SYS_semop || regs.orig_rax == SYS_semtimedop) &&
            regs.rax == 0)
            return true;
    }
    return false;
}

TEST(LockHolderKilled, NextRequestIsServed)
{
    Simulator sim;
    ASSERT_TRUE(sim.start());
    const Outcome before = livePage();
    ASSERT_EQ(before.status, 0);

    Launch l = cgiRequest("GET");
    l.traced = true;
    Child cgi(l);
    int status = 0;
    ASSERT_EQ(waitpid(cgi.pid(), &status, 0), cgi.pid());  // stopped at exec
    ASSERT_TRUE(WIFSTOPPED(status));
    ASSERT_EQ(
        ptrace(PTRACE_SETOPTIONS, cgi.pid(), nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL),
        0);
    // Its first successful semop takes the lock: the value is 0 and the last
    // operation on it is this process's.
    ASSERT_TRUE(toNextSemopExit(cgi.pid()));
    EXPECT_EQ(semctl(lockSemaphore(), 0, GETPID), cgi.pid());
    EXPECT_EQ(lockValue(), 0);
    kill(cgi.pid(), SIGKILL);
    ASSERT_EQ(waitpid(cgi.pid(), &status, 0), cgi.pid());
    cgi.reaped(status);
    EXPECT_TRUE(WIFSIGNALED(status));

    EXPECT_EQ(lockValue(), 1) << "the kernel did not give the lock back";
    const Outcome after = livePage();
    EXPECT_EQ(after.status, 0);
    EXPECT_EQ(after.out, before.out);
}
#endif

// ---- Uploads and bodies: the request layer's fixed temporary folder ----

// Runs with the simulator; checks that no temporary file outlives a request.
class Upload : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(sim_.start()); }
    void TearDown() override { std::remove("/tmp/fill"); }
    // Names in /tmp other than the filler.
    static std::set<std::string> tmpLeftovers()
    {
        std::set<std::string> names = tmpFiles();
        names.erase("fill");
        return names;
    }
    // Starts the request with `body` already in its input pipe (test bodies
    // fit the pipe's buffer); the write end is handed back through `writer`
    // (left open) or closed at once. Null when the pipe failed.
    static std::unique_ptr<Child> post(const std::string& contentType, size_t length,
                                       const std::string& body, int* writer = nullptr)
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return nullptr;
        if (write(fds[1], body.data(), body.size()) != static_cast<ssize_t>(body.size()))
            return nullptr;
        auto c = std::make_unique<Child>(cgiRequest("POST", contentType, length, fds[0]));
        close(fds[0]);
        if (writer)
            *writer = fds[1];
        else
            close(fds[1]);
        return c;
    }
    // Runs the request to its end and checks status, output, trace line and /tmp.
    static void expectEnd(const std::string& contentType, const std::string& body, size_t length,
                          int status, const std::string& out, const std::string& traceLine)
    {
        std::remove(kTrace);
        const auto cgi = post(contentType, length, body);
        ASSERT_NE(cgi, nullptr);
        const Outcome o = cgi->finish(10000);
        EXPECT_EQ(o.status, status) << o.err;
        EXPECT_EQ(o.out, out);
        EXPECT_TRUE(contains(readFile(kTrace), traceLine + "\n")) << readFile(kTrace);
        EXPECT_EQ(tmpLeftovers(), std::set<std::string>{}) << "temporary file left behind";
    }
    Simulator sim_;
};

const std::string kBoundary = "b0undAry";
const std::string kMultipart = "multipart/form-data; boundary=" + kBoundary;

// A multipart body with one part per letter of `parts` ('t' a text field,
// 'f' a file part), each with `size` body bytes.
std::string multipartBody(const std::string& parts, size_t size)
{
    std::string b;
    for (char kind : parts) {
        b += "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"";
        b += kind == 'f'
                 ? "firmware\"; filename=\"fw.bin\"\r\nContent-Type: application/octet-stream"
                 : "note\"";
        b += "\r\n\r\n";
        for (size_t i = 0; i < size; ++i)
            b += static_cast<char>('a' + i % 26);
        b += "\r\n";
    }
    return b + "--" + kBoundary + "--\r\n";
}

// /tmp without a free byte: the temporary file is still made and stays
// empty (the bytes go to the upload hook), so the page is served.
TEST_F(Upload, TempFolderFull)
{
    const Outcome page = livePage();
    ASSERT_EQ(page.status, 0);
    FILE* f = std::fopen("/tmp/fill", "wb");
    ASSERT_NE(f, nullptr);
    const std::string mb(1 << 20, 'x');
    while (std::fwrite(mb.data(), 1, mb.size(), f) == mb.size()) {
    }
    std::fclose(f);
    struct statvfs v {};
    ASSERT_EQ(statvfs("/tmp", &v), 0);
    ASSERT_EQ(v.f_bavail, 0u);
    for (const char* parts : {"f", "tf"})
        expectEnd(kMultipart, multipartBody(parts, 3000), multipartBody(parts, 3000).size(), 0,
                  page.out, "PostMultipartInput succeeded");
}

// A multipart body stops before CONTENT_LENGTH: no page and no file left,
// except before the first delimiter, where the decoder has seen no part at
// all. (A short URL-encoded body is among the viewer's refused requests.)
TEST_F(Upload, ShortBody)
{
    const std::string filePartHead =
        "--" + kBoundary +
        "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"a.bin\"\r\n\r\nabcdef";
    expectEnd(kMultipart, filePartHead, 5000, 255, "", "PostMultipartInput failed");
    const Outcome page = livePage();
    expectEnd(kMultipart, "preamble", 5000, 0, page.out, "PostMultipartInput succeeded");
}

// The program has no read time limit of its own: it waits for as long as the
// writer keeps the body open, and ends as soon as the writer goes away.
TEST_F(Upload, StalledBody)
{
    int writer = -1;
    auto cgi = post("application/x-www-form-urlencoded", 100, "id=00", &writer);
    ASSERT_NE(cgi, nullptr);
    pauseMs(300);
    EXPECT_TRUE(cgi->running());
    close(writer);
    const Outcome o = cgi->finish(10000);
    EXPECT_EQ(o.status, 255);
    EXPECT_EQ(o.out, "");
}

}  // namespace
