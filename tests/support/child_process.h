// child_process.h - the tests' child processes: built programs and the device simulator.
#ifndef TEST_CHILD_PROCESS_H
#define TEST_CHILD_PROCESS_H

#include <sys/types.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace testproc {

// What to start; a cross build's emulator (ZEL_EMULATOR) goes in front of argv.
struct Launch {
    Launch(std::vector<std::string> args) : argv(args) {}
    std::vector<std::string> argv, env;  // env: whole environment; empty inherits ours
    std::string cwd;                     // working folder; empty keeps ours
    int stdinFd = -1;                    // becomes standard input (caller keeps it); -1: /dev/null
    bool traced = false;                 // stop at exec under ptrace
};

struct Outcome {  // status: 128 + signal when killed by one, -1 when it overran
    int status = -1;
    std::string out, err;
};

// A running child, its output in memory files; the destructor kills and reaps it.
class Child {
  public:
    explicit Child(const Launch& l);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    pid_t pid() const { return pid_; }
    bool waitFor(const std::string& text, int ms);  // output holds `text` within `ms`
    bool running();
    Outcome finish(int ms);  // waits up to `ms` for the end

  private:
    pid_t pid_ = -1;
    int outFd_ = -1, errFd_ = -1, waitStatus_ = -1;  // waitStatus_: raw status once reaped
};

Outcome run(const Launch& l, int ms = 10000);   // runs to completion within `ms`
int inputFd(const std::string& bytes);          // memory file holding `bytes`; -1 on failure
std::string readFile(const std::string& path);  // empty when it cannot be read
std::set<std::string> tmpFiles();               // regular files in /tmp
std::vector<std::string> cgiEnv(const char* user, const std::string& method,
                                const std::string& query = "");

// `dvrsim run ARGS`, up once its own objects answer; SIGTERM when this goes.
class Simulator {
  public:
    bool start(std::vector<std::string> args = {});
    ~Simulator();
    void signal(int sig);  // SIGKILL also reaps it

  private:
    std::unique_ptr<Child> child_;
};

int dvrsimSet(const std::string& key, const std::string& value);  // `dvrsim set`'s status

}  // namespace testproc

#endif
