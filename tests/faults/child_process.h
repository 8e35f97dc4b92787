// child_process.h - child processes for the tests that run built programs:
// start one with a chosen environment, folder and standard input, watch its
// output, collect its end within a deadline; and the device simulator.
#ifndef TEST_CHILD_PROCESS_H
#define TEST_CHILD_PROCESS_H

#include <sys/types.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace testproc {

// What to start and how. A cross build's emulator (ZEL_EMULATOR) is put in
// front of argv and handed its loader prefix.
struct Launch {
    Launch(std::vector<std::string> args) : argv(args) {}
    std::vector<std::string> argv;  // program path and arguments
    std::vector<std::string> env;   // whole environment ("NAME=value"); empty inherits ours
    std::string cwd;                // working folder; empty keeps ours
    int stdinFd = -1;               // becomes standard input (caller keeps it); -1: /dev/null
    bool traced = false;            // stop at exec under ptrace
};

// How a child ended: exit status (128 + signal when killed by one, -1 when
// it overran), standard output and standard error.
struct Outcome {
    int status = -1;
    std::string out, err;
};

// A running child, its standard output and error in memory files. The
// destructor kills and reaps a child still running, so a failed assertion
// leaves nothing behind.
class Child {
  public:
    explicit Child(const Launch& l);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    pid_t pid() const { return pid_; }
    bool waitFor(const std::string& text, int ms);     // output holds `text` within `ms`
    bool running();                                    // not ended yet
    void reaped(int status) { waitStatus_ = status; }  // the caller reaped it (traced)
    Outcome finish(int ms);  // waits up to `ms` for the end (status -1 when it overran)

  private:
    pid_t pid_ = -1;
    int outFd_ = -1, errFd_ = -1, waitStatus_ = -1;  // waitStatus_: raw status once reaped
};

Outcome run(const Launch& l, int ms = 10000);   // runs to completion within `ms`
int inputFd(const std::string& bytes);          // memory file holding `bytes`; -1 on failure
std::string readFile(const std::string& path);  // empty when it cannot be read
// Regular files in /tmp: what uploads and captures left there (a source or
// build tree carried into the private /tmp is a folder and not listed).
std::set<std::string> tmpFiles();
// The environment the web server gives the viewer for a request.
std::vector<std::string> cgiEnv(const char* user, const std::string& method,
                                const std::string& query = "");

// The device simulator as a child process, stopped with SIGTERM (so it
// removes its objects) when this goes. start() runs `dvrsim run ARGS` and
// waits until its own objects answer (not stale ones that `--replace`
// removes); signal(SIGKILL) also reaps it, leaving the objects as a crash.
class Simulator {
  public:
    bool start(std::vector<std::string> args = {});
    ~Simulator();
    void signal(int sig);

  private:
    std::unique_ptr<Child> child_;
};

int dvrsimSet(const std::string& key, const std::string& value);  // `dvrsim set`'s status

}  // namespace testproc

#endif
