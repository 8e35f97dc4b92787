// faults_test.cpp - the real programs run as the web server runs them, a row per
// fault or hostile input: status, output, trace, peak memory, nothing left behind.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/msg.h>
#include <sys/ptrace.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <sstream>

#include "cgi_cfg_access.h"
#include "cgi_cfg_session.h"
#include "cgi_request_limits.h"
#include "child_process.h"

using namespace testproc;
using std::string;

namespace {

constexpr key_t kDeviceKey = 1632;
const char kTrace[] = "/var/www/cgidebug", kTarget[] = "/var/www/target", kPeak[] = "/var/www/peak";
const std::string kUrl = "application/x-www-form-urlencoded", kB = "XyZ",
                  kMp = "multipart/form-data; boundary=" + kB, kLongB(CGI_MAX_BOUNDARY, '-'),
                  kMpLong = "multipart/form-data; boundary=" + kLongB;
// Peak memory beyond what the limits let a request hold; the sanitizer multiplies what is held.
constexpr long kSlackKiB = 512;
#if defined(__SANITIZE_ADDRESS__)
constexpr long kHeldFactor = 4;
#else
constexpr long kHeldFactor = 1;
#endif
// Under an emulator GNU time would measure the emulator.
const bool kEmulated = getenv("ZEL_EMULATOR") && *getenv("ZEL_EMULATOR");

std::string repeat(const std::string& s, size_t n)
{
    std::string out;
    while (n-- > 0)
        out += s;
    return out;
}

size_t count(const std::string& s, const std::string& what)
{
    size_t n = 0;
    for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1))
        n++;
    return n;
}

// A part per letter of `kinds` ('f' file, 't' text) of `size` bytes.
std::string parts(const std::string& kinds, size_t size = 1, const std::string& b = kB)
{
    std::string body;
    for (char k : kinds)
        body += "--" + b + "\r\nContent-Disposition: form-data; name=\"f\"" +
                (k == 'f' ? "; filename=\"a\"" : "") + "\r\n\r\n" + std::string(size, 'x') + "\r\n";
    return body + "--" + b + "--\r\n";
}

// `setup`: "device" the simulator (with a full /tmp, a lock holder killed);
// "stall" the body's writer kept open; the trace file a "link", "fifo" (with a
// reader), "folder"; "short N": device objects whose segment N is a byte short.
struct Row {
    const char* name;
    std::string type = "", data = "";  // a POST's body type and body; no type: GET query
    int status = 0;
    std::string out = "";    // whole output ("<page>": the live page) or a piece found `times`
    size_t times = 0;        // 0: `out` is the whole output
    std::string trace = "";  // a line of the trace ("": not read)
    size_t length = 0;       // CONTENT_LENGTH when not the body's size
    std::string err = "";    // a piece of standard error
    std::string setup = "", cmd = "app";  // cmd: "app", "cgi" or "session", and arguments
    // The simulator killed once the output shows `killAt` ("": once the request
    // is queued); then `again` on a restarted one must show `done`.
    const char* killAt = nullptr;
    std::string again = "", done = "";
};

const std::string kOkPost = "PostMultipartInput succeeded", kBadPost = "PostMultipartInput failed",
                  kBadForm = "PostFormInput failed", kA1 = "\nentry [a] [1] 1 ", kPage = "<page>",
                  kCannot = "10|Could not attach memory segment requested\n";

std::vector<Row> hostileRows()
{
    const size_t kFields = CGI_MAX_FIELDS;
    return {
        // A trace file that is no regular file is not opened: nothing written, nothing blocks.
        {"traceSymlink", "", "a=1", 0, kA1, 1, "", 0, "", "link"},
        {"traceFifo", "", "a=1", 0, kA1, 1, "", 0, "", "fifo"},
        {"traceFifoWithReader", "", "a=1", 0, kA1, 1, "", 0, "", "fifo read"},
        {"traceFolder", "", "a=1", 0, kA1, 1, "", 0, "", "folder"},
        {"fieldsAtLimit", kUrl, repeat("a=&", kFields), 0, "\nentry [a] [] 0 ", kFields,
         "PostFormInput succeeded"},
        {"fiveMillionEmptyFields", kUrl, repeat("=&", 5000000), 255, "", 0, kBadForm},
        {"valuePastByteLimit", kUrl, "v=" + string(CGI_MAX_ENTRY_BYTES, 'x'), 255, "", 0, kBadForm},
        {"queryPastFieldLimit", "", repeat("=&", kFields + 1), 255, "", 0, "GetFormInput failed"},
        // File parts, boundary length and preamble all at their limits.
        {"multipartAtLimits", kMpLong,
         string(CGI_MAX_PREAMBLE, 'p') + parts(string(CGI_MAX_FILE_PARTS, 'f'), 1, kLongB), 0,
         " T\n", CGI_MAX_FILE_PARTS, kOkPost},
        {"filePartsPastLimit", kMp, parts(string(CGI_MAX_FILE_PARTS + 1, 'f')), 255, "", 0,
         kBadPost},
        {"190000TinyFileParts", kMp, parts(string(190000, 'f')), 255, "", 0, kBadPost},
        {"textPartsPastLimit", kMp, parts(string(kFields + 1, 't')), 255, "", 0, kBadPost},
        {"boundaryPastLimit", kMpLong + "-", parts("t", 1, kLongB + "-"), 255, "", 0, kBadPost},
        // Near misses of an all-hyphen delimiter: the costliest preamble to search.
        {"hyphenPreamblePastLimit", kMpLong,
         repeat(kLongB + "-x", CGI_MAX_PREAMBLE / 70) + parts("t", 1, kLongB), 255, "", 0,
         kBadPost},
        // Segments smaller than their records: "cannot attach", no read past the end.
        {"configSegmentShort", "", "", 255, "Content-type: text/html\r\n\r\n", 0, "", 0,
         kCannot + "Info ---- failed to get shm pointer.: Invalid argument\n", "short 0", "cgi"},
        {"searchTableShort", "", "", 2, "", 0, "", 0, kCannot + "dvrsession: ", "short 1",
         "session clock"},
        {"diskMapTableShort", "", "", 2, "", 0, "", 0, kCannot + "dvrsession: ", "short 2",
         "session clock"},
    };
}

std::vector<Row> faultRows()
{
    return {
        // /tmp full: the temporary file is still made (the bytes go to the hook).
        {"TempFolderFull", kMp, parts("tf", 3000), 0, kPage, 0, kOkPost, 0, "", "device full",
         "cgi"},
        // A body short of CONTENT_LENGTH inside a file part.
        {"ShortBody", kMp, parts("f", 3000).substr(0, 1000), 255, "", 0, kBadPost, 5000, "",
         "device", "cgi"},
        // No read time limit: the program waits until the writer goes away.
        {"StalledBody", kUrl, "id=00", 255, "", 0, "", 100, "", "stall", "cgi"},
        {"LockHolderKilled", "", "", 0, kPage, 0, "", 0, "", "device lock", "cgi"},
        // The simulator killed under a client: the search freezes (the visits see
        // no end), the upload's pieces and the disk-map wait end at the time limit.
        {"SimulatorKilledSearch", "", "", 0, "visit 5: progress", 1, "", 0, "", "device",
         "session --timeout 10 search --visits 5", "visit 1:", "search --visits 30",
         "end 1, stop 1"},
        {"SimulatorKilledUpload", "", "", 3, "piece 1:", 1, "", 0,
         "upload: no answer from the device service within 3 s", "device",
         "session --timeout 3 upload --size 400000000", "piece 1:", "upload --size 300000",
         "received 300000 of 300000 bytes"},
        {"SimulatorKilledDiskMap", "", "", 3, "", 0, "", 0,
         "map: no answer from the device service within 2 s", "device", "session --timeout 2 map",
         "", "map", "connection id"},
    };
}

// The words of `cmd`, its first one replaced by the program's path.
std::vector<std::string> command(const std::string& cmd)
{
    std::istringstream words(cmd);
    std::vector<std::string> argv{std::istream_iterator<std::string>(words), {}};
    argv[0] = argv[0] == "app"       ? CGI_REQUEST_APP
              : argv[0] == "cgi"     ? ZEL_CGI
              : argv[0] == "session" ? ZEL_DVRSESSION
                                     : argv[0];
    return argv;
}

Launch request(const Row& r, int in)
{
    Launch l{command(r.cmd)};
    l.env = cgiEnv("admin", r.type.empty() ? "GET" : "POST", r.type.empty() ? r.data : "");
    if (!r.type.empty()) {
        l.env.push_back("CONTENT_TYPE=" + r.type);
        l.env.push_back("CONTENT_LENGTH=" + std::to_string(r.length ? r.length : r.data.size()));
    }
    l.cwd = ZEL_WEB_DIR, l.stdinFd = in;
    if (!kEmulated)
        l.argv.insert(l.argv.begin(), {"/usr/bin/time", "-f", "%M", "-o", kPeak});
    return l;
}

long peakKiB()  // the figure is the last line; a failed command gets a notice first
{
    const std::string peak = readFile(kPeak);
    return atol(peak.c_str() + peak.rfind('\n', peak.size() - 2) + 1);
}

size_t ipcObjects()  // the lines of the kernel's lists, headings included
{
    const string all = readFile("/proc/sysvipc/shm") + readFile("/proc/sysvipc/sem") +
                       readFile("/proc/sysvipc/msg");
    return count(all, "\n");
}

#ifndef SYS_semop  // MIPS o32 has neither; its rows run emulated, this one skipped
#define SYS_semop (-1L)
#endif
#ifndef SYS_semtimedop
#define SYS_semtimedop (-1L)
#endif
// Runs the traced child (stopped at exec) to the end of its first successful semop.
bool toFirstSemopExit(pid_t pid)
{
    __ptrace_syscall_info info{};
    int status = 0;
    waitpid(pid, nullptr, 0);
    ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
    for (long nr = 0; ptrace(PTRACE_SYSCALL, pid, nullptr, nullptr) == 0 &&
                      waitpid(pid, &status, 0) == pid && WIFSTOPPED(status);) {
        if (ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof info, &info) <= 0)
            continue;
        if (info.op == PTRACE_SYSCALL_INFO_ENTRY)
            nr = static_cast<long>(info.entry.nr);
        else if (info.op == PTRACE_SYSCALL_INFO_EXIT && (nr == SYS_semop || nr == SYS_semtimedop) &&
                 info.exit.rval == 0)
            return true;
    }
    return false;
}

class Request : public ::testing::TestWithParam<Row> {};

TEST_P(Request, EndsClearlyWithinTheBoundLeavingNothing)
{
    const Row& r = GetParam();
    if (!getenv("ZEL_IN_NS"))
        GTEST_SKIP() << "needs the namespace runner";
    static const long baseKiB = (run(request(hostileRows()[0], -1)), peakKiB());
    const size_t objectsBefore = ipcObjects();
    auto sim = std::make_unique<Simulator>();
    std::string page;
    if (r.setup.rfind("device", 0) == 0) {
        ASSERT_TRUE(sim->start());
        page = run(request({"page", "", "", 0, "", 0, "", 0, "", "", "cgi"}, -1)).out;
    }
    EXPECT_NE(r.setup == "device full" ? system("cat /dev/zero >/tmp/fill 2>/dev/null") : 1, 0);
    const bool segments = r.setup.rfind("short", 0) == 0;
    const key_t keys[] = {kDeviceKey, SCH_SHM_KEY, DA_SHM_KEY};
    const size_t sizes[] = {CFG_SEGMENT_MIN_SIZE, SCH_TABLE_SIZE, DA_TABLE_SIZE};
    for (int i = 0; i < 3 && segments; i++)  // the device lock and queue, a segment a byte short
        msgget(kDeviceKey, IPC_CREAT | 0666), semget(kDeviceKey, 1, IPC_CREAT | 0666),
            shmget(keys[i], sizes[i] - (r.setup.back() - '0' == i), IPC_CREAT | 0666);
    unlink(kTrace);
    fclose(fopen(kTarget, "w"));
    EXPECT_EQ(r.setup == "link"               ? symlink(kTarget, kTrace)
              : r.setup.rfind("fifo", 0) == 0 ? mkfifo(kTrace, 0666)
              : r.setup == "folder"           ? mkdir(kTrace, 0700)
                                              : 0,
              0);
    const int reader = r.setup == "fifo read" ? open(kTrace, O_RDONLY | O_NONBLOCK) : -1;
    int body[2] = {inputFd(r.type.empty() ? "" : r.data), -1};
    ASSERT_TRUE(r.setup != "stall" || (close(body[0]) == 0 && pipe2(body, O_CLOEXEC) == 0 &&
                                       write(body[1], r.data.data(), r.data.size()) > 0));
    if (r.killAt && !*r.killAt)
        sim->signal(SIGSTOP);
    if (r.setup == "device lock") {  // a viewer killed right after its semop took the lock
        if (kEmulated)
            GTEST_SKIP() << "the system-call stops would be the emulator's";
        Launch l = request(r, -1);
        l.argv = command(r.cmd), l.traced = true;
        Child holder(l);
        ASSERT_TRUE(toFirstSemopExit(holder.pid()));
        EXPECT_EQ(semctl(semget(kDeviceKey, 0, 0), 0, GETVAL), 0);  // taken; given back on exit
        kill(holder.pid(), SIGKILL);
        holder.finish(5000);
    }

    Child c(request(r, body[0]));
    close(body[0]);
    if (r.setup == "stall") {
        usleep(300000);
        EXPECT_TRUE(c.running()) << "did not wait for the rest of the body";
        close(body[1]);
    }
    if (r.killAt) {
        msqid_ds q{};  // no `killAt`: a message queued that nobody took, within 5 s
        for (int i = 0; i < 500 && !*r.killAt && q.msg_qnum == 0; ++i, usleep(10000))
            msgctl(msgget(kDeviceKey, 0), IPC_STAT, &q);
        ASSERT_TRUE(*r.killAt ? c.waitFor(r.killAt, 5000) : q.msg_qnum > 0);
        sim->signal(SIGKILL);
    }
    const Outcome o = c.finish(60000);
    EXPECT_EQ(o.status, r.status) << o.err;
    const std::string out = r.out == kPage ? page : r.out;
    EXPECT_EQ(r.times ? count(o.out, out) : o.out == out, r.times ? r.times : 1)
        << o.out.substr(0, 300);
    const std::string trace = r.trace.empty() ? "" : readFile(kTrace);  // a FIFO would block
    EXPECT_NE(trace.find(r.trace), std::string::npos) << trace;
    EXPECT_NE(o.err.find(r.err), std::string::npos) << o.err;
    EXPECT_EQ(readFile(kTarget), "") << "written through the trace file";
    char byte;
    EXPECT_EQ(reader < 0 ? 0 : read(reader, &byte, 1), 0) << "written into the FIFO";
    const long held = r.type == kUrl ? static_cast<long>(r.data.size()) / 1024 : 0;
    EXPECT_TRUE(kEmulated || peakKiB() > 0);
    EXPECT_LE(kEmulated ? 0 : peakKiB(),
              baseKiB + kHeldFactor * (held + CGI_MAX_ENTRY_BYTES / 1024) + kSlackKiB);
    if (r.killAt) {
        EXPECT_EQ(semctl(semget(kDeviceKey, 0, 0), 0, GETVAL), 1) << "the lock stayed taken";
        ASSERT_TRUE(sim->start({"--replace"}));
        const Outcome a = run(command("session --timeout 10 " + r.again), 15000);
        EXPECT_EQ(a.status, 0) << a.out << a.err;
        EXPECT_NE(a.out.find(r.done), std::string::npos) << a.out;
    }
    close(reader);
    EXPECT_EQ(system("rm -rf /var/www/cgidebug /var/www/target /tmp/fill"), 0);
    EXPECT_EQ(segments ? system("ipcrm --all") : 0, 0);
    sim.reset();
    EXPECT_EQ(tmpFiles(), std::set<std::string>{}) << "temporary file left behind";
    EXPECT_EQ(ipcObjects(), objectsBefore) << "IPC object left behind";
}

const auto kRowName = [](const auto& i) { return std::string(i.param.name); };
INSTANTIATE_TEST_SUITE_P(Hostile, Request, ::testing::ValuesIn(hostileRows()), kRowName);
INSTANTIATE_TEST_SUITE_P(Faults, Request, ::testing::ValuesIn(faultRows()), kRowName);

}  // namespace
