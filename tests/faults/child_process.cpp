// child_process.cpp - starting, watching and reaping the tests' child
// processes, and the simulator among them (see child_process.h).
#include "child_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/ptrace.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace testproc {

long long nowMs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

void pauseMs(int ms)
{
    timespec t{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

namespace {

// In the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void execChild(const Launch& l, char* const* argv, char* const* envp, int outW,
                            int errFd)
{
    const int in = l.stdinFd >= 0 ? l.stdinFd : open("/dev/null", O_RDONLY);
    if (in < 0 || dup2(in, 0) < 0 || dup2(outW, 1) < 0 || dup2(errFd, 2) < 0)
        _exit(126);
    if (!l.cwd.empty() && chdir(l.cwd.c_str()) != 0)
        _exit(126);
    if (l.traced && ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0)
        _exit(126);
    if (envp)
        execve(argv[0], argv, envp);
    else
        execv(argv[0], argv);
    _exit(127);
}

std::vector<char*> pointers(std::vector<std::string>& v)
{
    std::vector<char*> p;
    for (std::string& s : v)
        p.push_back(&s[0]);
    p.push_back(nullptr);
    return p;
}

std::string readAll(int fd)
{
    std::string s;
    char chunk[4096];
    for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;)
        s.append(chunk, static_cast<size_t>(n));
    return s;
}

}  // namespace

Child::Child(const Launch& l)
{
    int pipeFds[2];
    errFd_ = memfd_create("child-stderr", MFD_CLOEXEC);
    if (errFd_ < 0 || pipe2(pipeFds, O_CLOEXEC) != 0)
        return;
    std::vector<std::string> args = l.argv, env = l.env;
    const char* emulator = getenv("ZEL_EMULATOR");
    if (emulator && *emulator) {
        args.insert(args.begin(), emulator);
        if (!env.empty() && getenv("QEMU_LD_PREFIX"))
            env.push_back(std::string("QEMU_LD_PREFIX=") + getenv("QEMU_LD_PREFIX"));
    }
    std::vector<char*> argv = pointers(args), envp = pointers(env);
    pid_ = fork();
    if (pid_ == 0)
        execChild(l, argv.data(), env.empty() ? nullptr : envp.data(), pipeFds[1], errFd_);
    close(pipeFds[1]);
    outFd_ = pipeFds[0];
}

Child::~Child()
{
    if (pid_ > 0 && waitStatus_ == -1) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (outFd_ >= 0)
        close(outFd_);
    if (errFd_ >= 0)
        close(errFd_);
}

bool Child::readSome(int ms)
{
    pollfd p{outFd_, POLLIN, 0};
    if (outFd_ < 0 || poll(&p, 1, ms) <= 0)
        return false;
    char chunk[4096];
    const ssize_t n = read(outFd_, chunk, sizeof chunk);
    if (n <= 0) {
        close(outFd_);
        outFd_ = -1;
        return false;
    }
    out_.append(chunk, static_cast<size_t>(n));
    return true;
}

bool Child::waitFor(std::string_view text, int ms)
{
    const long long end = nowMs() + ms;
    while (out_.find(text) == std::string::npos) {
        const long long left = end - nowMs();
        if (left <= 0 || outFd_ < 0)
            return false;
        readSome(static_cast<int>(left));
    }
    return true;
}

bool Child::running()
{
    if (pid_ <= 0 || waitStatus_ != -1)
        return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_)
        return true;
    waitStatus_ = status;
    return false;
}

Outcome Child::finish(int ms)
{
    Outcome o;
    const long long end = nowMs() + ms;
    while (running() && nowMs() < end)
        readSome(10);
    if (running()) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        waitStatus_ = 0;
    } else if (pid_ > 0) {
        o.status = WIFEXITED(waitStatus_) ? WEXITSTATUS(waitStatus_) : 128 + WTERMSIG(waitStatus_);
    }
    while (readSome(0)) {
    }
    o.out = out_;
    if (errFd_ >= 0 && lseek(errFd_, 0, SEEK_SET) == 0)
        o.err = readAll(errFd_);
    return o;
}

Outcome run(const Launch& l, int ms)
{
    Child c(l);
    return c.finish(ms);
}

int inputFd(const std::string& bytes)
{
    const int fd = memfd_create("child-stdin", MFD_CLOEXEC);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
        lseek(fd, 0, SEEK_SET) != 0) {
        if (fd >= 0)
            close(fd);
        return -1;
    }
    return fd;
}

std::set<std::string> tmpFiles()
{
    std::set<std::string> names;
    if (DIR* d = opendir("/tmp")) {
        struct stat st {};
        while (const dirent* e = readdir(d))
            if (fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
                names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

std::string readFile(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "";
    std::string s = readAll(fd);
    close(fd);
    return s;
}

std::vector<std::string> cgiEnv(const char* user, const std::string& method,
                                const std::string& query)
{
    std::vector<std::string> env = {"GATEWAY_INTERFACE=CGI/1.1", "SERVER_PROTOCOL=HTTP/1.1",
                                    "SCRIPT_NAME=/zelbrowser.cgi", "REQUEST_METHOD=" + method,
                                    "QUERY_STRING=" + query};
    if (user) {
        env.push_back("AUTH_TYPE=Basic");
        env.push_back(std::string("REMOTE_USER=") + user);
    }
    return env;
}

namespace {
constexpr key_t kDeviceKey = 1632;   // the device lock's semaphore set
constexpr key_t kDiskMapKey = 1634;  // the last table the simulator creates
}  // namespace

bool Simulator::start(std::vector<std::string> args)
{
    const int staleLock = semget(kDeviceKey, 0, 0), staleTable = shmget(kDiskMapKey, 0, 0);
    args.insert(args.begin(), {ZEL_DVRSIM, "run"});
    child_ = std::make_unique<Child>(Launch{args});
    for (int i = 0; i < 250 && child_->running(); ++i) {
        const int lock = semget(kDeviceKey, 0, 0), table = shmget(kDiskMapKey, 0, 0);
        if (lock >= 0 && lock != staleLock && table >= 0 && table != staleTable &&
            run({{ZEL_DVRSIM, "get", "model.code"}}, 5000).status == 0)
            return child_->running();
        pauseMs(20);
    }
    return false;
}

Simulator::~Simulator()
{
    if (child_ && child_->running()) {
        kill(child_->pid(), SIGTERM);
        child_->finish(5000);
    }
}

void Simulator::signal(int sig)
{
    kill(child_->pid(), sig);
    if (sig == SIGKILL)
        child_->finish(5000);
}

int dvrsimSet(const std::string& key, const std::string& value)
{
    return run({{ZEL_DVRSIM, "set", key, value}}).status;
}

}  // namespace testproc
