// sim_test.cpp - the simulator: in-process, its key grammar (segment offsets,
// bad lines refused with reason and line number); as separate processes,
// existing objects refused unless --replace, stop signals removing all five,
// and refusals that create or change nothing.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/msg.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "cgi_cfg_session.h"
#include "child_process.h"
#include "sim_config.h"
#include "sim_device.h"
#include "sim_sessions.h"

using namespace testproc;

namespace {

// Native-order bytes of a number, as the segment holds it.
template <typename T>
std::vector<uint8_t> native(T v)
{
    std::vector<uint8_t> b(sizeof v);
    memcpy(b.data(), &v, sizeof v);
    return b;
}

// Good lines of each kind (one with blanks around and CRLF) land at absolute
// offsets, numbers in native order; the end-to-end viewer test reads back the
// covert, port and user keys it sets. Each bad line is reported with its
// number and a part of its reason.
TEST(SimConfig, KeysLandAtTheirOffsetsAndBadLinesAreRefused)
{
    const std::tuple<const char*, size_t, std::vector<uint8_t>> good[] = {
        {"video_sys = 1", 9168, {1}},
        {"camera.ip.1.ip_addr = 10.1.2.3", 2072 + 4, native<uint32_t>(0x0a010203)},
        {"info.hostname = box", 8955, {'b', 'o', 'x', 0}},
        {"\tsecurity.covert=1  \r", 8821, {1}},
    };
    const std::pair<std::string, const char*> bad[] = {
        {"model.channels", "expected 'key = value'"},
        {"nosuch.key = 1", "unknown key 'nosuch.key'"},
        {"camera.analog.17.covert = 1", "out of range 1..16"},
        {"security.covert = 256", "expected a number 0..255"},
        {"security.covert = 1x", "expected a number"},
        {"network.ip_addr = 1.2.3.256", "IPv4"},
        {"info.hostname = " + std::string(65, 'h'), "longer than 64"},
        {"user.1 = a b 0", "name password level enable"},
        {"user.1 = a:b pw 0 1", "without ':'"},
    };
    std::string text = "# comment\n\n";
    for (const auto& [line, offset, bytes] : good)
        text += std::string(line) + "\n";
    for (const auto& [line, reason] : bad)
        text += line + "\n";
    std::vector<SimAssignment> out;
    std::vector<std::string> errors;
    EXPECT_FALSE(sim_parse_config(text, "f.conf", out, errors));
    ASSERT_EQ(std::size(bad), errors.size());
    for (size_t i = 0; i < errors.size(); ++i) {
        const size_t line = 3 + std::size(good) + i;
        EXPECT_EQ(0u, errors[i].rfind("f.conf:" + std::to_string(line) + ": ", 0)) << errors[i];
        EXPECT_NE(std::string::npos, errors[i].find(bad[i].second)) << errors[i];
    }
    ASSERT_EQ(std::size(good), out.size());
    SimDevice dev{};
    std::string err;
    ASSERT_TRUE(sim_device_create(dev, true, err)) << err;
    for (size_t i = 0; i < out.size(); ++i) {
        const auto& [line, offset, bytes] = good[i];
        EXPECT_TRUE(sim_apply(dev, out[i])) << line;
        EXPECT_EQ(0, memcmp(static_cast<const unsigned char*>(dev.cfg) + offset, bytes.data(),
                            bytes.size()))
            << line;
    }
    EXPECT_TRUE(sim_device_remove(dev));
}

// `dvrsim ARGS` run to completion: its status; its output and error in `text`.
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

// The three objects of key 1632 and the two session tables (at full size).
int objects_present()
{
    return (shmget(kSimKey, 0, 0) >= 0) + (semget(kSimKey, 0, 0) >= 0) + (msgget(kSimKey, 0) >= 0) +
           (shmget(SCH_SHM_KEY, SCH_TABLE_SIZE, 0) >= 0) +
           (shmget(DA_SHM_KEY, DA_TABLE_SIZE, 0) >= 0);
}

// Without a simulator `set` fails and a bad configuration file creates
// nothing; existing objects are kept unless replaced (a killed simulator
// leaves them), a refused `set` changes nothing, a stop signal removes all.
TEST(SimProcess, ObjectsAreKeptUnlessReplacedAndStopSignalsRemoveThem)
{
    std::string text;
    EXPECT_EQ(1, dvrsim({"set", "security.covert", "1"}, &text));
    EXPECT_NE(std::string::npos, text.find("no simulator is running")) << text;
    const std::string path = "/tmp/sim_test.conf." + std::to_string(getpid());
    std::ofstream(path) << "model.channels = 4\ncamera.analog.99.covert = 1\n";
    EXPECT_EQ(1, dvrsim({"run", "--config", path}, &text));
    EXPECT_NE(std::string::npos, text.find(path + ":2: key 'camera.analog.99.covert'")) << text;
    unlink(path.c_str());
    EXPECT_EQ(0, objects_present());
    auto first = start();
    EXPECT_EQ(5, objects_present());
    EXPECT_EQ(1, dvrsim({"run"}, &text));
    EXPECT_NE(std::string::npos, text.find("already exist")) << text;
    EXPECT_NE(std::string::npos, text.find("--replace")) << text;
    EXPECT_EQ(128 + SIGKILL, stop(*first, SIGKILL).status);
    EXPECT_EQ(5, objects_present()) << "a killed simulator leaves its objects";
    EXPECT_EQ(1, dvrsim({"run"}));
    EXPECT_EQ(5, objects_present()) << "a refusal removes nothing";
    for (int sig : {SIGTERM, SIGINT}) {
        auto sim = start({"--replace"});
        EXPECT_EQ(1, dvrsim({"set", "model.channels", "300"}, &text)) << "a refused value";
        EXPECT_EQ(0, dvrsim({"get", "model.channels"}, &text));
        EXPECT_EQ("16\n", text);
        EXPECT_EQ(0, stop(*sim, sig).status) << strsignal(sig);
        EXPECT_EQ(0, objects_present()) << strsignal(sig);
    }
}

}  // namespace
