// sim_process_test.cpp - the dvrsim program as separate processes: it refuses
// existing objects unless --replace, `set` is seen by another process, every
// queue message is logged, and a stop signal removes all three objects.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <sys/msg.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "cgi_cfg_session.h"
#include "shm.h"
#include "sim_device.h"

namespace {

struct Proc {
    pid_t pid = -1;
    std::string out;  // file receiving standard output and standard error
};

std::string slurp(const std::string& path)
{
    std::ifstream f(path);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// Polls `done` every 5 ms for up to 10 s, a bound for a loaded machine and
// not a timing check; true once it holds.
bool poll_until(const std::function<bool()>& done)
{
    for (int waited = 0; waited < 10000; waited += 5, usleep(5000))
        if (done())
            return true;
    return false;
}

// Starts dvrsim (through $ZEL_EMULATOR when set) with its output in a file.
Proc spawn(const std::vector<std::string>& args)
{
    static int serial = 0;
    Proc p;
    p.out = "/tmp/sim_process_test." + std::to_string(getpid()) + "." + std::to_string(serial++);
    std::vector<std::string> argv;
    if (const char* emu = getenv("ZEL_EMULATOR"); emu && *emu)
        argv.push_back(emu);
    argv.push_back(DVRSIM_PATH);
    argv.insert(argv.end(), args.begin(), args.end());
    p.pid = fork();
    if (p.pid == 0) {
        if (!freopen(p.out.c_str(), "w", stdout) || dup2(fileno(stdout), 2) < 0)
            _exit(126);
        std::vector<char*> cargv;
        for (std::string& a : argv)
            cargv.push_back(a.data());
        cargv.push_back(nullptr);
        execvp(cargv[0], cargv.data());
        _exit(127);
    }
    return p;
}

// Waits for the process to end; returns its exit status (128 + signal when
// killed), or -1 when it does not end within the bound.
int wait_exit(const Proc& p)
{
    int st = 0;
    if (poll_until([&] { return waitpid(p.pid, &st, WNOHANG) == p.pid; }))
        return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    kill(p.pid, SIGKILL);
    waitpid(p.pid, nullptr, 0);
    return -1;
}

// Runs dvrsim to completion; returns its exit status and its output.
int run(const std::vector<std::string>& args, std::string* output = nullptr)
{
    Proc p = spawn(args);
    const int rc = wait_exit(p);
    if (output)
        *output = slurp(p.out);
    unlink(p.out.c_str());
    return rc;
}

bool wait_for_text(const Proc& p, const std::string& text)
{
    return poll_until([&] { return slurp(p.out).find(text) != std::string::npos; });
}

// The three objects of key 1632 and the two session tables (at least their
// full size), as the viewer program looks them up.
int objects_present()
{
    return (shmget(kSimKey, 0, 0) >= 0) + (semget(kSimKey, 0, 0) >= 0) + (msgget(kSimKey, 0) >= 0) +
           (shmget(SCH_SHM_KEY, SCH_TABLE_SIZE, 0) >= 0) +
           (shmget(DA_SHM_KEY, DA_TABLE_SIZE, 0) >= 0);
}

Proc start_simulator(const std::vector<std::string>& extra = {})
{
    std::vector<std::string> args{"run"};
    args.insert(args.end(), extra.begin(), extra.end());
    Proc p = spawn(args);
    EXPECT_TRUE(wait_for_text(p, "dvrsim: running")) << slurp(p.out);
    return p;
}

int stop_simulator(const Proc& p, int sig)
{
    kill(p.pid, sig);
    const int rc = wait_exit(p);
    unlink(p.out.c_str());
    return rc;
}

TEST(SimProcess, StopSignalsRemoveEveryObject)
{
    for (int sig : {SIGTERM, SIGINT}) {
        Proc sim = start_simulator();
        EXPECT_EQ(5, objects_present());
        EXPECT_EQ(0, stop_simulator(sim, sig)) << strsignal(sig);
        EXPECT_EQ(0, objects_present()) << strsignal(sig);
    }
}

TEST(SimProcess, RefusesExistingObjectsUnlessReplace)
{
    Proc first = start_simulator();
    std::string out;
    EXPECT_EQ(1, run({"run"}, &out));
    EXPECT_NE(std::string::npos, out.find("already exist")) << out;
    EXPECT_NE(std::string::npos, out.find("--replace")) << out;
    EXPECT_EQ(128 + SIGKILL, stop_simulator(first, SIGKILL));
    EXPECT_EQ(5, objects_present()) << "a killed simulator leaves its objects";
    EXPECT_EQ(1, run({"run"}));
    EXPECT_EQ(5, objects_present()) << "a refusal removes nothing";
    Proc second = start_simulator({"--replace"});
    EXPECT_EQ(0, run({"get", "model.channels"}, &out));
    EXPECT_EQ("16\n", out);
    EXPECT_EQ(0, stop_simulator(second, SIGTERM));
    EXPECT_EQ(0, objects_present());
}

TEST(SimProcess, SetIsSeenByAnotherProcess)
{
    std::string out;
    EXPECT_EQ(1, run({"set", "security.covert", "1"}, &out));
    EXPECT_NE(std::string::npos, out.find("no simulator is running")) << out;

    Proc sim = start_simulator();
    void* seg = get_shm_ptr(kSimKey);
    ASSERT_NE(nullptr, seg);
    const auto* cfg = static_cast<const volatile unsigned char*>(seg);
    const size_t covert3 = 664 + 88 * 2 + 6;
    EXPECT_EQ(1, cfg[covert3]) << "built-in configuration marks analog camera 3 covert";
    EXPECT_EQ(0, run({"set", "camera.analog.3.covert", "0"}));
    EXPECT_EQ(0, cfg[covert3]);
    EXPECT_EQ(0, run({"get", "camera.analog.3.covert"}, &out));
    EXPECT_EQ("0\n", out);
    EXPECT_EQ(0, run({"set", "user.9", "eve", "secret", "2", "1"}));
    EXPECT_EQ(0, run({"users"}, &out));
    EXPECT_NE(std::string::npos, out.find("\neve:secret\n")) << out;
    EXPECT_EQ(1, run({"set", "camera.analog.3.covert", "300"}, &out));
    EXPECT_NE(std::string::npos, out.find("0..255")) << out;
    EXPECT_EQ(0, cfg[covert3]) << "a refused value must not be written";
    shmdt(seg);
    EXPECT_EQ(0, stop_simulator(sim, SIGTERM));
}

TEST(SimProcess, LogsEveryMessageAndLeavesTheQueueEmpty)
{
    Proc sim = start_simulator();
    const int q = get_msg_id(kSimKey);
    ASSERT_GE(q, 0);
    ASSERT_EQ(0, put_msg_text(q, 4242, 7));
    ASSERT_EQ(0, put_msg_text(q, 4243, 255));
    EXPECT_TRUE(wait_for_text(sim, "message type 4242 (disk map) payload 7: handled"))
        << slurp(sim.out);
    EXPECT_TRUE(wait_for_text(sim, "message type 4243 (disk map) payload 255: handled"));
    struct msqid_ds st {};
    ASSERT_EQ(0, msgctl(q, IPC_STAT, &st));
    EXPECT_EQ(0u, st.msg_qnum);
    EXPECT_EQ(0, stop_simulator(sim, SIGTERM));
}

TEST(SimProcess, ConfigFileIsUsedAndABadOneCreatesNothing)
{
    const std::string path = "/tmp/sim_process_test.conf." + std::to_string(getpid());
    std::ofstream(path) << "model.channels = 4\nnetwork.listen_port = 9000\n";
    Proc sim = start_simulator({"--config", path});
    std::string out;
    EXPECT_EQ(0, run({"get", "model.channels"}, &out));
    EXPECT_EQ("4\n", out);
    EXPECT_EQ(0, run({"get", "network.listen_port"}, &out));
    EXPECT_EQ("9000\n", out);
    EXPECT_EQ(0, stop_simulator(sim, SIGTERM));

    std::ofstream(path) << "model.channels = 4\ncamera.analog.99.covert = 1\n";
    EXPECT_EQ(1, run({"run", "--config", path}, &out));
    EXPECT_NE(std::string::npos, out.find(path + ":2: key 'camera.analog.99.covert'")) << out;
    EXPECT_EQ(0, objects_present());
    unlink(path.c_str());
}

}  // namespace
