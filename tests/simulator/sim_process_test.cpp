// sim_process_test.cpp - the dvrsim program as separate processes: it refuses
// existing objects unless --replace, either stop signal removes all five
// objects, and a running one serves a configuration file, `get`, `set` and
// queue messages.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/msg.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <unistd.h>
#include <vector>

#include "cgi_cfg_session.h"
#include "child_process.h"
#include "shm.h"
#include "sim_device.h"

using namespace testproc;

namespace {

// Runs `dvrsim ARGS` to completion: its exit status, and its standard
// output and error together in `text`.
int dvrsim(std::vector<std::string> args, std::string* text = nullptr)
{
    args.insert(args.begin(), DVRSIM_PATH);
    const Outcome o = run(Launch{args});
    if (text)
        *text = o.out + o.err;
    return o.status;
}

// `dvrsim run ARGS`, once it says it runs.
std::unique_ptr<Child> start(std::vector<std::string> args = {})
{
    args.insert(args.begin(), {DVRSIM_PATH, "run"});
    auto sim = std::make_unique<Child>(Launch{args});
    EXPECT_TRUE(sim->waitFor("dvrsim: running", 10000));
    return sim;
}

// Sends `sig`; the exit status and the whole output.
Outcome stop(Child& sim, int sig)
{
    kill(sim.pid(), sig);
    return sim.finish(10000);
}

// The three objects of key 1632 and the two session tables (at least their
// full size), as the viewer program looks them up.
int objects_present()
{
    return (shmget(kSimKey, 0, 0) >= 0) + (semget(kSimKey, 0, 0) >= 0) + (msgget(kSimKey, 0) >= 0) +
           (shmget(SCH_SHM_KEY, SCH_TABLE_SIZE, 0) >= 0) +
           (shmget(DA_SHM_KEY, DA_TABLE_SIZE, 0) >= 0);
}

TEST(SimProcess, ExistingObjectsAreKeptUnlessReplacedAndStopSignalsRemoveThem)
{
    auto first = start();
    EXPECT_EQ(5, objects_present());
    std::string text;
    EXPECT_EQ(1, dvrsim({"run"}, &text));
    EXPECT_NE(std::string::npos, text.find("already exist")) << text;
    EXPECT_NE(std::string::npos, text.find("--replace")) << text;
    EXPECT_EQ(128 + SIGKILL, stop(*first, SIGKILL).status);
    EXPECT_EQ(5, objects_present()) << "a killed simulator leaves its objects";
    EXPECT_EQ(1, dvrsim({"run"}));
    EXPECT_EQ(5, objects_present()) << "a refusal removes nothing";
    for (int sig : {SIGTERM, SIGINT}) {
        auto sim = start({"--replace"});
        EXPECT_EQ(0, dvrsim({"get", "model.channels"}, &text));
        EXPECT_EQ("16\n", text);
        EXPECT_EQ(0, stop(*sim, sig).status) << strsignal(sig);
        EXPECT_EQ(0, objects_present()) << strsignal(sig);
    }
}

// One simulator run on a configuration file: `get` and `set` from other
// processes see and change its segment (a refused value changes nothing),
// and every queue message is logged and taken. A bad file creates nothing.
TEST(SimProcess, ConfigFileSetGetAndMessages)
{
    std::string text;
    EXPECT_EQ(1, dvrsim({"set", "security.covert", "1"}, &text));
    EXPECT_NE(std::string::npos, text.find("no simulator is running")) << text;
    const std::string path = "/tmp/sim_process_test.conf." + std::to_string(getpid());
    std::ofstream(path) << "model.channels = 4\nnetwork.listen_port = 9000\n"
                        << "camera.analog.3.covert = 1\n";
    auto sim = start({"--config", path});
    void* seg = get_shm_ptr(kSimKey);
    ASSERT_NE(nullptr, seg);
    const auto* covert3 = static_cast<const volatile unsigned char*>(seg) + 664 + 88 * 2 + 6;
    EXPECT_EQ(1, *covert3);
    const struct {
        std::vector<std::string> args;
        int status;
        std::string says;  // the whole output; part of it on a failure
    } runs[] = {
        {{"get", "model.channels"}, 0, "4\n"},
        {{"get", "network.listen_port"}, 0, "9000\n"},
        {{"set", "camera.analog.3.covert", "0"}, 0, ""},
        {{"get", "camera.analog.3.covert"}, 0, "0\n"},
        {{"set", "user.9", "eve", "secret", "2", "1"}, 0, ""},
        {{"users"}, 0, "eve:secret\n"},
        {{"set", "camera.analog.3.covert", "300"}, 1, "0..255"},
    };
    for (const auto& r : runs) {
        EXPECT_EQ(r.status, dvrsim(r.args, &text)) << r.args.back();
        if (r.status == 0)
            EXPECT_EQ(r.says, text) << r.args.back();
        else
            EXPECT_NE(std::string::npos, text.find(r.says)) << r.args.back() << ": " << text;
    }
    EXPECT_EQ(0, *covert3) << "set, and not overwritten by the refused value";
    shmdt(seg);

    const int q = get_msg_id(kSimKey);
    ASSERT_GE(q, 0);
    ASSERT_EQ(0, put_msg_text(q, 4242, 7));
    ASSERT_EQ(0, put_msg_text(q, 4243, 255));
    for (const char* logged : {"message type 4242 (disk map) payload 7: handled",
                               "message type 4243 (disk map) payload 255: handled"})
        EXPECT_TRUE(sim->waitFor(logged, 10000)) << logged;
    struct msqid_ds st {};
    ASSERT_EQ(0, msgctl(q, IPC_STAT, &st));
    EXPECT_EQ(0u, st.msg_qnum);
    EXPECT_EQ(0, stop(*sim, SIGTERM).status);

    std::ofstream(path) << "model.channels = 4\ncamera.analog.99.covert = 1\n";
    EXPECT_EQ(1, dvrsim({"run", "--config", path}, &text));
    EXPECT_NE(std::string::npos, text.find(path + ":2: key 'camera.analog.99.covert'")) << text;
    EXPECT_EQ(0, objects_present());
    unlink(path.c_str());
}

}  // namespace
