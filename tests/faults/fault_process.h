// fault_process.h - child processes for the fault tests: start a program
// with a chosen environment and standard input, watch its output while it
// runs, and collect its exit within a deadline (killed when it overruns).
#ifndef FAULT_PROCESS_H
#define FAULT_PROCESS_H

#include <sys/types.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace faults {

// What to start and how.
struct Launch {
  Launch(std::vector<std::string> args) : argv(std::move(args)) {}
  std::vector<std::string> argv;  // program path and arguments
  std::vector<std::string> env;   // whole environment ("NAME=value"); empty inherits ours
  std::string cwd;                // working folder; empty keeps ours
  int stdinFd = -1;               // becomes standard input; -1 gives /dev/null
  bool traced = false;            // stop at exec under ptrace, for the lock test
};

// How a child ended.
struct Outcome {
  int status = -1;   // exit status; 128 + signal when killed by one; -1 overran
  std::string out;   // everything written to standard output
  std::string err;   // everything written to standard error
};

// A running child. Its standard output is a pipe read as it comes, its
// standard error a memory file read at the end. The destructor kills and
// reaps a child that is still running, so a failed assertion leaves nothing.
class Child {
 public:
  explicit Child(const Launch& l);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  // Output read so far.
  const std::string& out() const { return out_; }
  // Reads output until it holds `text` or `ms` pass or the output ends;
  // true when the text was seen.
  bool waitFor(std::string_view text, int ms);
  // True while the child has not ended (it is not reaped here).
  bool running();
  // Records that the caller reaped the child itself (traced children).
  void reaped(int status);
  // Waits up to `ms` for the end, reading output meanwhile; kills the
  // child when it overruns (status -1).
  Outcome finish(int ms);

 private:
  bool readSome(int ms);  // true when output arrived within `ms`
  pid_t pid_ = -1;
  int outFd_ = -1;        // read end of the stdout pipe
  int errFd_ = -1;        // memory file holding stderr
  int waitStatus_ = -1;   // raw status once reaped by running()
  std::string out_;
};

// Runs to completion within `ms`.
Outcome run(const Launch& l, int ms);

// Milliseconds on a monotonic clock.
long long nowMs();

// Sleeps `ms` milliseconds.
void pauseMs(int ms);

}  // namespace faults

#endif
