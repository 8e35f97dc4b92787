// faults_test.cpp - fault tests against the built programs: the simulator
// killed in the middle of a search, an upload and a disk-map request; a
// viewer process killed while it holds the device lock; a full temporary
// folder during a multipart upload; a request body that stops early. Every
// suite runs in a private IPC and mount namespace (see CMakeLists.txt).
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/mount.h>
#include <sys/msg.h>
#include <sys/ptrace.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/syscall.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fault_process.h"

using faults::Child;
using faults::Launch;
using faults::Outcome;

namespace {

constexpr key_t kDeviceKey = 1632;
constexpr key_t kDiskMapKey = 1634;  // the last table the simulator creates
const char* const kTrace = "/var/www/cgidebug";
const std::string kHeader = "Content-type: text/html\r\n\r\n";

std::string readFile(const char* path) {
  std::string s;
  if (FILE* f = std::fopen(path, "rb")) {
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) s.append(chunk, n);
    std::fclose(f);
  }
  return s;
}

bool contains(const std::string& s, const std::string& part) {
  return s.find(part) != std::string::npos;
}

// The device lock: semaphore 0 of the set with the device key.
int lockSemaphore() { return semget(kDeviceKey, 0, 0); }
int lockValue() { return semctl(lockSemaphore(), 0, GETVAL); }

// The device simulator as a child process.
class Simulator {
 public:
  // Starts `dvrsim run` and waits until its own objects answer (with
  // `replace`, not the stale ones it is about to remove); false otherwise.
  bool start(bool replace) {
    const int staleLock = lockSemaphore(), staleTable = shmget(kDiskMapKey, 0, 0);
    Launch l{{ZEL_DVRSIM, "run"}};
    if (replace) l.argv.push_back("--replace");
    child_ = std::make_unique<Child>(l);
    for (int i = 0; i < 250 && child_->running(); ++i) {
      const int lock = lockSemaphore(), table = shmget(kDiskMapKey, 0, 0);
      if (lock >= 0 && lock != staleLock && table >= 0 && table != staleTable &&
          faults::run({{ZEL_DVRSIM, "get", "model.code"}}, 5000).status == 0)
        return child_->running();
      faults::pauseMs(20);
    }
    return false;
  }
  // Stops it the ordinary way, so it removes its objects.
  ~Simulator() {
    if (child_ && child_->running()) {
      kill(child_->pid(), SIGTERM);
      child_->finish(5000);
    }
  }
  // Sends a signal; SIGKILL also reaps, leaving the objects behind as a crash would.
  void signal(int sig) {
    kill(child_->pid(), sig);
    if (sig == SIGKILL) child_->finish(5000);
  }

 private:
  std::unique_ptr<Child> child_;
};

// A viewer request as the web server starts it, for user admin.
Launch cgiRequest(const std::string& method, const std::string& contentType, size_t length,
                  int stdinFd = -1) {
  Launch l{{ZEL_CGI}};
  l.env = {"GATEWAY_INTERFACE=CGI/1.1", "SERVER_PROTOCOL=HTTP/1.1", "SCRIPT_NAME=/zelbrowser.cgi",
           "REQUEST_METHOD=" + method, "QUERY_STRING=", "AUTH_TYPE=Basic", "REMOTE_USER=admin"};
  if (!contentType.empty()) {
    l.env.push_back("CONTENT_TYPE=" + contentType);
    l.env.push_back("CONTENT_LENGTH=" + std::to_string(length));
  }
  l.cwd = ZEL_WEB_DIR;
  l.stdinFd = stdinFd;
  return l;
}

// The live view page for admin, as a plain GET gets it now.
Outcome livePage() {
  std::remove(kTrace);
  return faults::run(cgiRequest("GET", "", 0), 10000);
}

// ---- The simulator killed while a client waits for it ----

#ifdef ZEL_DVRSESSION
// True once the device queue holds a message nobody has taken, within `ms`.
bool messageQueued(int ms) {
  const int q = msgget(kDeviceKey, 0);
  for (long long end = faults::nowMs() + ms; faults::nowMs() < end; faults::pauseMs(10)) {
    msqid_ds ds{};
    if (q >= 0 && msgctl(q, IPC_STAT, &ds) == 0 && ds.msg_qnum > 0) return true;
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

TEST_P(SimulatorKilled, ClientEndsAndTheWorkRunsAgainAfterRestart) {
  const KillCase& c = GetParam();
  Simulator sim;
  ASSERT_TRUE(sim.start(false));
  if (!c.trigger) sim.signal(SIGSTOP);
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

  ASSERT_TRUE(sim.start(true));
  Launch again{{ZEL_DVRSESSION, "--timeout", "10"}};
  again.argv.insert(again.argv.end(), c.again.begin(), c.again.end());
  const Outcome a = faults::run(again, 15000);
  EXPECT_EQ(a.status, 0) << a.out << a.err;
  EXPECT_TRUE(contains(a.out, c.done)) << a.out;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SimulatorKilled,
    ::testing::Values(
        // The search freezes where it was: the client's visits go on, see no
        // progress and no end, and it stops after its visits.
        KillCase{"search", {"--timeout", "10", "search", "--visits", "5"}, "visit 1:", 0,
                 "visit 5: progress", "end 1", {"search", "--visits", "30"}, "end 1, stop 1"},
        // Nobody takes the pieces: the client retries until its time limit.
        KillCase{"upload", {"--timeout", "3", "upload", "--size", "400000000"}, "piece 1:", 3,
                 "upload: no answer from the device service within 3 s", "status 0 (free)",
                 {"upload", "--size", "300000"}, "received 300000 of 300000 bytes"},
        // The disk-map wait has no bound of its own: the client's limit ends it.
        KillCase{"diskmap", {"--timeout", "2", "map"}, nullptr, 3,
                 "map: no answer from the device service within 2 s", "connection id",
                 {"map"}, "connection id"}),
    [](const ::testing::TestParamInfo<KillCase>& i) { return std::string(i.param.name); });
#endif

// ---- A viewer process killed while it holds the device lock ----

#if defined(__x86_64__)
// Runs the traced child to the end of its next semop (or semtimedop) call;
// false when it ended or did not get there within the stop budget.
bool toNextSemopExit(pid_t pid) {
  bool inCall = false;
  for (int stops = 0; stops < 200000; ++stops) {
    int status = 0;
    if (ptrace(PTRACE_SYSCALL, pid, nullptr, nullptr) != 0 || waitpid(pid, &status, 0) != pid ||
        !WIFSTOPPED(status))
      return false;
    if (WSTOPSIG(status) != (SIGTRAP | 0x80)) continue;
    user_regs_struct regs{};
    if (ptrace(PTRACE_GETREGS, pid, nullptr, &regs) != 0) return false;
    inCall = !inCall;
    if (!inCall && (regs.orig_rax == SYS_semop || regs.orig_rax == SYS_semtimedop) && regs.rax == 0)
      return true;
  }
  return false;
}

TEST(LockHolderKilled, NextRequestIsServed) {
  Simulator sim;
  ASSERT_TRUE(sim.start(false));
  const Outcome before = livePage();
  ASSERT_EQ(before.status, 0);

  Launch l = cgiRequest("GET", "", 0);
  l.traced = true;
  Child cgi(l);
  int status = 0;
  ASSERT_EQ(waitpid(cgi.pid(), &status, 0), cgi.pid());  // stopped at exec
  ASSERT_TRUE(WIFSTOPPED(status));
  ASSERT_EQ(ptrace(PTRACE_SETOPTIONS, cgi.pid(), nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL), 0);
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

// ---- A private /tmp: the request layer's fixed temporary folder ----

// Mounts a tmpfs with the given options over /tmp for one test (the test
// binary runs in a mount namespace of its own), with the simulator running.
class PrivateTmp : public ::testing::Test {
 protected:
  void mountTmp(const char* options) {
    ASSERT_EQ(mount("faulttmp", "/tmp", "tmpfs", 0, options), 0);
    mounted_ = true;
  }
  void SetUp() override { ASSERT_TRUE(sim_.start(false)); }
  void TearDown() override {
    if (mounted_) umount2("/tmp", MNT_DETACH);
  }
  // Names in /tmp other than those given.
  static std::set<std::string> tmpLeftovers(const std::set<std::string>& expected) {
    std::set<std::string> names;
    if (DIR* d = opendir("/tmp")) {
      while (const dirent* e = readdir(d))
        if (e->d_name[0] != '.' && !expected.count(e->d_name)) names.insert(e->d_name);
      closedir(d);
    }
    return names;
  }
  // Starts the request with `body` already in its input pipe (test bodies
  // fit the pipe's 64 KiB buffer). The write end is handed back through
  // `writer` (left open) or closed at once. Null when the pipe failed.
  static std::unique_ptr<Child> post(const std::string& contentType, size_t length,
                                     const std::string& body, int* writer) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return nullptr;
    if (write(fds[1], body.data(), body.size()) != static_cast<ssize_t>(body.size())) return nullptr;
    auto c = std::make_unique<Child>(cgiRequest("POST", contentType, length, fds[0]));
    close(fds[0]);
    if (writer)
      *writer = fds[1];
    else
      close(fds[1]);
    return c;
  }
  Simulator sim_;
  bool mounted_ = false;
};

const std::string kBoundary = "b0undAry";
const std::string kMultipart = "multipart/form-data; boundary=" + kBoundary;

// A multipart body with one part per letter of `parts`: 't' a text field,
// 'f' a file part; each with `size` body bytes.
std::string multipartBody(const std::string& parts, size_t size) {
  std::string b;
  for (char kind : parts) {
    b += "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"";
    b += kind == 'f' ? "firmware\"; filename=\"fw.bin\"\r\nContent-Type: application/octet-stream"
                     : "note\"";
    b += "\r\n\r\n";
    for (size_t i = 0; i < size; ++i) b += static_cast<char>('a' + i % 26);
    b += "\r\n";
  }
  return b + "--" + kBoundary + "--\r\n";
}

// ---- The temporary folder full when a file part arrives ----

struct FullCase {
  const char* name;
  const char* options;  // tmpfs options of /tmp
  size_t fill;          // bytes written to /tmp/fill first
  const char* parts;    // 't' text part, 'f' file part (needs a temporary file)
  int status;           // expected exit status
  const char* trace;    // expected last trace line
};

class TempFolderFull : public PrivateTmp, public ::testing::WithParamInterface<FullCase> {};

TEST_P(TempFolderFull, ClearResultNothingLeft) {
  const FullCase& c = GetParam();
  const Outcome page = livePage();
  ASSERT_EQ(page.status, 0);
  mountTmp(c.options);
  if (c.fill) {
    FILE* f = std::fopen("/tmp/fill", "wb");
    ASSERT_NE(f, nullptr);
    const std::string bytes(c.fill, 'x');
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    ASSERT_EQ(std::fclose(f), 0);
    ASSERT_EQ(readFile("/tmp/fill").size(), c.fill);
  }
  std::remove(kTrace);
  const std::string body = multipartBody(c.parts, 3000);
  const auto cgi = post(kMultipart, body.size(), body, nullptr);
  ASSERT_NE(cgi, nullptr);
  const Outcome o = cgi->finish(10000);
  EXPECT_EQ(o.status, c.status) << o.err;
  EXPECT_EQ(o.out, c.status == 0 ? page.out : "");
  EXPECT_TRUE(contains(readFile(kTrace), std::string(c.trace) + "\n")) << readFile(kTrace);
  EXPECT_EQ(tmpLeftovers({"fill"}), std::set<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Faults, TempFolderFull,
    ::testing::Values(
        // No inode left: the temporary file cannot be made, the request ends
        // with status 255 before the handler runs, so no entry and no page.
        FullCase{"noInodeFilePart", "size=64k,nr_inodes=1", 0, "f", 255, "PostMultipartInput failed"},
        // The text part's entry exists when the file part fails; the request
        // still ends without a page (and, sanitized, without a leak).
        FullCase{"noInodeTextThenFile", "size=64k,nr_inodes=1", 0, "tf", 255, "PostMultipartInput failed"},
        // A text part needs no temporary file.
        FullCase{"noInodeTextPart", "size=64k,nr_inodes=1", 0, "t", 0, "PostMultipartInput succeeded"},
        // No space but an inode: the file is made and stays empty (the bytes
        // go to the upload hook), so the request is served.
        FullCase{"noSpaceFilePart", "size=4k", 4096, "f", 0, "PostMultipartInput succeeded"}),
    [](const ::testing::TestParamInfo<FullCase>& i) { return std::string(i.param.name); });

// ---- The request body stops before CONTENT_LENGTH ----

struct ShortCase {
  const char* name;
  std::string contentType;
  size_t declared;    // CONTENT_LENGTH
  std::string sent;   // what arrives before the writer closes
  int status;
  const char* trace;  // expected trace line
};

class ShortBody : public PrivateTmp, public ::testing::WithParamInterface<ShortCase> {};

TEST_P(ShortBody, EndsWithoutOutput) {
  const ShortCase& c = GetParam();
  mountTmp("size=1m");
  std::remove(kTrace);
  const auto cgi = post(c.contentType, c.declared, c.sent, nullptr);
  ASSERT_NE(cgi, nullptr);
  const Outcome o = cgi->finish(10000);
  EXPECT_EQ(o.status, c.status) << o.err;
  if (c.status != 0) {
    EXPECT_EQ(o.out, "");
  }
  EXPECT_TRUE(contains(readFile(kTrace), std::string(c.trace) + "\n")) << readFile(kTrace);
  EXPECT_EQ(tmpLeftovers({}), std::set<std::string>{}) << "temporary file left behind";
}

const std::string kFilePartHead = "--" + kBoundary +
                                  "\r\nContent-Disposition: form-data; name=\"f\"; "
                                  "filename=\"a.bin\"\r\n\r\nabcdef";

INSTANTIATE_TEST_SUITE_P(
    Faults, ShortBody,
    ::testing::Values(
        ShortCase{"urlencoded", "application/x-www-form-urlencoded", 100, "id=0001", 255,
                  "PostFormInput failed"},
        // Inside a file part: its temporary file exists by then and must go.
        ShortCase{"multipartInFilePart", kMultipart, 5000, kFilePartHead, 255,
                  "PostMultipartInput failed"},
        // Before the first delimiter the decoder sees no part at all and the
        // page is served without form data.
        ShortCase{"multipartBeforeFirstDelimiter", kMultipart, 5000, "preamble", 0,
                  "PostMultipartInput succeeded"}),
    [](const ::testing::TestParamInfo<ShortCase>& i) { return std::string(i.param.name); });

class StalledBody : public PrivateTmp {};

// The program has no read time limit of its own: it waits for as long as the
// writer keeps the body open, and ends as soon as the writer goes away.
TEST_F(StalledBody, StalledWriterHoldsItUntilClosed) {
  mountTmp("size=1m");
  int writer = -1;
  auto cgi = post("application/x-www-form-urlencoded", 100, "id=00", &writer);
  ASSERT_NE(cgi, nullptr);
  faults::pauseMs(300);
  EXPECT_TRUE(cgi->running());
  close(writer);
  const Outcome o = cgi->finish(10000);
  EXPECT_EQ(o.status, 255);
  EXPECT_EQ(o.out, "");
}

}  // namespace
