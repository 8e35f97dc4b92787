// child_process.h - child processes for the tests that run built programs:
// start one with a chosen environment, folder and standard input, watch its
// output, collect its end within a deadline; and the device simulator.
#ifndef TEST_CHILD_PROCESS_H
#define TEST_CHILD_PROCESS_H

#include <sys/types.h>

#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testproc {

// What to start and how. A cross build's emulator (ZEL_EMULATOR) is put in
// front of argv and handed its loader prefix.
struct Launch {
    Launch(std::vector<std::string> args) : argv(std::move(args)) {}
    std::vector<std::string> argv;  // program path and arguments
    std::vector<std::string> env;   // whole environment ("NAME=value"); empty inherits ours
    std::string cwd;                // working folder; empty keeps ours
    int stdinFd = -1;               // becomes standard input (caller keeps it); -1: /dev/null
    bool traced = false;            // stop at exec under ptrace
};

// How a child ended.
struct Outcome {
    int status = -1;  // exit status; 128 + signal when killed by one; -1 overran
    std::string out;  // everything written to standard output
    std::string err;  // everything written to standard error
};

// A running child. Its standard output is a pipe read as it comes, its
// standard error a memory file read at the end. The destructor kills and
// reaps a child still running, so a failed assertion leaves nothing behind.
class Child {
  public:
    explicit Child(const Launch& l);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    const std::string& out() const { return out_; }
    // True once the output holds `text`; false when `ms` pass or it ends first.
    bool waitFor(std::string_view text, int ms);
    // True while the child has not ended.
    bool running();
    // Records that the caller reaped the child itself (traced children).
    void reaped(int status) { waitStatus_ = status; }
    // Waits up to `ms` for the end, reading output; kills an overrunning child.
    Outcome finish(int ms);

  private:
    bool readSome(int ms);  // true when output arrived within `ms`
    pid_t pid_ = -1;
    int outFd_ = -1;       // read end of the stdout pipe
    int errFd_ = -1;       // memory file holding stderr
    int waitStatus_ = -1;  // raw status once reaped
    std::string out_;
};

// Runs to completion within `ms`.
Outcome run(const Launch& l, int ms = 10000);

// A memory file holding `bytes`, positioned at its start; -1 on failure.
int inputFd(const std::string& bytes);

// Regular files in /tmp: what uploads and captures left there (a source or
// build tree carried into the private /tmp is a folder and not listed).
std::set<std::string> tmpFiles();

// A whole file; empty when it cannot be read.
std::string readFile(const std::string& path);

// The environment the web server gives the viewer for a request.
std::vector<std::string> cgiEnv(const char* user, const std::string& method,
                                const std::string& query = "");

long long nowMs();  // milliseconds on a monotonic clock
void pauseMs(int ms);

// The device simulator as a child process; stopped with SIGTERM (so it
// removes its objects) when this goes.
class Simulator {
  public:
    // Starts `dvrsim run ARGS` and waits until its own objects answer (not
    // stale ones that `--replace` removes); false when it does not come up.
    bool start(std::vector<std::string> args = {});
    ~Simulator();
    // Sends a signal; SIGKILL also reaps, leaving the objects as a crash would.
    void signal(int sig);

  private:
    std::unique_ptr<Child> child_;
};

// Runs `dvrsim set KEY VALUE`; its exit status.
int dvrsimSet(const std::string& key, const std::string& value);

}  // namespace testproc

#endif
