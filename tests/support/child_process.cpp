// child_process.cpp - the tests' child processes (see child_process.h).
#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/ptrace.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace testproc {

using Clock = std::chrono::steady_clock;

static std::string contents(int fd)  // read without moving the offset (a child may be writing)
{
    std::string s;
    char chunk[4096];
    for (ssize_t n; (n = pread(fd, chunk, sizeof chunk, static_cast<off_t>(s.size()))) > 0;)
        s.append(chunk, static_cast<size_t>(n));
    return s;
}

Child::Child(const Launch& l)
{
    outFd_ = memfd_create("out", MFD_CLOEXEC), errFd_ = memfd_create("err", MFD_CLOEXEC);
    if (outFd_ < 0 || errFd_ < 0)
        return;
    std::vector<std::string> args = l.argv, env = l.env;
    const char* emulator = getenv("ZEL_EMULATOR");
    if (emulator && *emulator) {
        args.insert(args.begin(), emulator);
        if (!env.empty() && getenv("QEMU_LD_PREFIX"))
            env.push_back(std::string("QEMU_LD_PREFIX=") + getenv("QEMU_LD_PREFIX"));
    }
    std::vector<char*> argv, envp;
    for (auto [from, to] : {std::pair{&args, &argv}, std::pair{&env, &envp}})
        for (std::string& s : *from)
            to->push_back(&s[0]);
    argv.push_back(nullptr), envp.push_back(nullptr);
    pid_ = fork();
    if (pid_ != 0)
        return;
    const int in = l.stdinFd >= 0 ? l.stdinFd : open("/dev/null", O_RDONLY);
    if (in < 0 || dup2(in, 0) < 0 || dup2(outFd_, 1) < 0 || dup2(errFd_, 2) < 0 ||
        (!l.cwd.empty() && chdir(l.cwd.c_str()) != 0) ||
        (l.traced && ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0))
        _exit(126);
    execve(argv[0], argv.data(), env.empty() ? environ : envp.data());
    _exit(127);
}

Child::~Child()
{
    if (pid_ > 0 && waitStatus_ == -1)
        kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
    close(outFd_), close(errFd_);
}

bool Child::waitFor(const std::string& text, int ms)
{
    for (const auto end = Clock::now() + std::chrono::milliseconds(ms);
         contents(outFd_).find(text) == std::string::npos; usleep(10000))
        if (Clock::now() > end || !running())  // the output once more after the end
            return contents(outFd_).find(text) != std::string::npos;
    return true;
}

bool Child::running()
{
    int status = 0;
    if (pid_ <= 0 || waitStatus_ != -1 || waitpid(pid_, &status, WNOHANG) != pid_)
        return pid_ > 0 && waitStatus_ == -1;
    waitStatus_ = status;
    return false;
}

Outcome Child::finish(int ms)
{
    for (const auto end = Clock::now() + std::chrono::milliseconds(ms);
         running() && Clock::now() < end;)
        usleep(10000);
    Outcome o{-1, contents(outFd_), contents(errFd_)};
    if (!running() && pid_ > 0)
        o.status = WIFEXITED(waitStatus_) ? WEXITSTATUS(waitStatus_) : 128 + WTERMSIG(waitStatus_);
    return o;
}

Outcome run(const Launch& l, int ms)
{
    return Child(l).finish(ms);
}

int inputFd(const std::string& bytes)
{
    const int fd = memfd_create("child-stdin", MFD_CLOEXEC);
    if (fd < 0 || pwrite(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()))
        return fd;
    close(fd);
    return -1;
}

std::set<std::string> tmpFiles()
{
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/tmp", ec))
        if (e.symlink_status(ec).type() == std::filesystem::file_type::regular)
            names.insert(e.path().filename());
    return names;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::string> cgiEnv(const char* user, const std::string& method,
                                const std::string& query)
{
    std::vector<std::string> env = {"GATEWAY_INTERFACE=CGI/1.1", "SERVER_PROTOCOL=HTTP/1.1",
                                    "SCRIPT_NAME=/zelbrowser.cgi", "REQUEST_METHOD=" + method,
                                    "QUERY_STRING=" + query};
    if (user)
        env.insert(env.end(), {"AUTH_TYPE=Basic", std::string("REMOTE_USER=") + user});
    return env;
}

// Up once the lock (key 1632) and the last table (1634) are new and a reading answers.
bool Simulator::start(std::vector<std::string> args)
{
    const int staleLock = semget(1632, 0, 0), staleTable = shmget(1634, 0, 0);
    args.insert(args.begin(), {ZEL_DVRSIM, "run"});
    child_ = std::make_unique<Child>(Launch{args});
    for (int i = 0; i < 250 && child_->running(); ++i) {
        const int lock = semget(1632, 0, 0), table = shmget(1634, 0, 0);
        if (lock >= 0 && lock != staleLock && table >= 0 && table != staleTable &&
            run({{ZEL_DVRSIM, "get", "model.code"}}, 5000).status == 0)
            return child_->running();
        usleep(20000);
    }
    return false;
}

Simulator::~Simulator()
{
    if (child_ && child_->running())
        kill(child_->pid(), SIGTERM), child_->finish(5000);
}

void Simulator::signal(int sig)
{
    if (kill(child_->pid(), sig) == 0 && sig == SIGKILL)
        child_->finish(5000);
}

int dvrsimSet(const std::string& key, const std::string& value)
{
    return run({{ZEL_DVRSIM, "set", key, value}}).status;
}

}  // namespace testproc
