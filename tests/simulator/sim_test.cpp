// sim_test.cpp - the simulator: in-process, its key grammar (segment offsets,
// bad lines refused with reason and line number, the built-in configuration);
// as separate processes, existing objects refused unless --replace, stop
// signals removing all five, and `get`, `set` and queue messages served.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <sys/msg.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "cgi_cfg_access.h"
#include "cgi_cfg_session.h"
#include "child_process.h"
#include "config_new.h"
#include "shm.h"
#include "sim_config.h"
#include "sim_device.h"
#include "sim_sessions.h"

using namespace testproc;

namespace {

class SimConfig : public ::testing::Test {
  protected:
    void SetUp() override
    {
        std::string err;
        ASSERT_TRUE(sim_device_create(dev, true, err)) << err;
    }
    void TearDown() override { EXPECT_TRUE(sim_device_remove(dev)); }

    void apply(const char* text)
    {
        std::vector<SimAssignment> parsed;
        std::vector<std::string> errors;
        ASSERT_TRUE(sim_parse_config(text, "t", parsed, errors))
            << (errors.empty() ? "" : errors[0]);
        for (const SimAssignment& a : parsed)
            ASSERT_TRUE(sim_apply(dev, a));
    }
    const unsigned char* at(size_t off) const
    {
        return static_cast<const unsigned char*>(dev.cfg) + off;
    }

    SimDevice dev{};
};

// Native-order bytes of a number, as the segment holds it.
template <typename T>
std::vector<uint8_t> native(T v)
{
    std::vector<uint8_t> b(sizeof v);
    memcpy(b.data(), &v, sizeof v);
    return b;
}

// Keys of every kind at absolute offsets (numbers in native order); the
// end-to-end viewer test reads back the keys its configuration sets.
TEST_F(SimConfig, EveryKindOfKeyLandsAtItsSegmentOffset)
{
    const std::tuple<const char*, size_t, std::vector<uint8_t>> table[] = {
        {"video_sys = 1", 9168, {1}},
        {"camera.analog.1.covert = 1", 670, {1}},
        {"camera.ip.4.covert = 7", 2201, {7}},
        {"camera.ip.1.ip_addr = 10.1.2.3", 2072 + 4, native<uint32_t>(0x0a010203)},
        {"security.admin_timeout = 900", 8816 + 16, native<uint16_t>(900)},
        {"network.ip_addr = 192.168.0.1", 7424, native<uint32_t>(0xc0a80001)},
        {"network.listen_port = 65535", 7538, native<uint16_t>(65535)},
        {"network.http_port = 8080", 7636, native<uint16_t>(8080)},
        {"info.hostname = box", 8955, {'b', 'o', 'x', 0}},
        {"info.model = ZR", 8864 + 41, {'Z', 'R', 0}},
        {"user.25 = zed pw 3 1", 636, {'z', 'e', 'd', 0}},
        {"user.25 = zed pw 3 1", 636 + 13, {'p', 'w', 0}},
        {"user.25 = zed pw 3 1", 660, {3, 1}},
    };
    for (const auto& [line, offset, bytes] : table) {
        apply(line);
        EXPECT_EQ(0, memcmp(at(offset), bytes.data(), bytes.size())) << line;
    }
}

TEST_F(SimConfig, SettingOneFieldKeepsTheRestOfItsRecord)
{
    apply("camera.analog.2.title = Lobby\ncamera.analog.2.covert = 1\nuser.1 = a b 2 1");
    const unsigned char before_timeout[2] = {0x12, 0x34};
    memcpy(const_cast<unsigned char*>(at(12 + 22)), before_timeout, 2);
    apply("camera.analog.2.covert = 0\nuser.1 = c d 0 1");
    EXPECT_STREQ("Lobby", reinterpret_cast<const char*>(at(664 + 88 + 66)));
    EXPECT_EQ(0, memcmp(at(12 + 22), before_timeout, 2)) << "user timeout overwritten";
    std::string v, err;
    ASSERT_TRUE(sim_get(dev, "user.1", v, err)) << err;
    EXPECT_EQ("c d 0 1", v);
    ASSERT_TRUE(sim_get(dev, "camera.ip.1.ip_addr", v, err));
    EXPECT_EQ("0.0.0.0", v);
    apply("user.2 = bob pw2 1 0\nuser.3 = cy pw3 2 2\nuser.7 = dee pw4 3 1");
    EXPECT_EQ((std::vector<std::string>{"c:d", "dee:pw4"}), sim_enabled_users(dev));
}

TEST(SimConfigParse, BadLinesAreRefusedWithAReason)
{
    // Bad lines, each with a part of its error.
    const std::pair<std::string, const char*> table[] = {
        {"model.channels", "expected 'key = value'"},
        {"nosuch.key = 1", "unknown key 'nosuch.key'"},
        {"camera.analog = 1", "unknown key"},
        {"camera.analog.1.covert.x = 1", "unknown key"},
        {"camera.analog.0.covert = 1", "out of range 1..16"},
        {"camera.analog.17.covert = 1", "out of range 1..16"},
        {"camera.ip.5.covert = 1", "out of range 1..4"},
        {"user.26 = a b 0 1", "out of range 1..25"},
        {"security.covert = 256", "expected a number 0..255"},
        {"security.covert = -1", "expected a number"},
        {"security.covert = 1x", "expected a number"},
        {"security.covert =", "expected a number"},
        {"network.listen_port = 65536", "0..65535"},
        {"network.ip_addr = 1.2.3", "IPv4"},
        {"network.ip_addr = 1.2.3.256", "IPv4"},
        {"network.ip_addr = 1.2.3.4.5", "IPv4"},
        {"network.ip_addr = 1..3.4", "IPv4"},
        {"network.ethernet_password = 12345", "longer than 4"},
        {"info.hostname = " + std::string(65, 'h'), "longer than 64"},
        {"user.1 = a b 0", "name password level enable"},
        {"user.1 = a:b pw 0 1", "without ':'"},
        {"user.1 = abcdefghijklm pw 0 1", "1 to 12"},
        {"user.1 = a 123456789 0 1", "password must be 1 to 8"},
        {"user.1 = a b 256 1", "0..255"},
    };
    // All in one text after a comment, a blank line and a good line, with a
    // good line ended by CRLF last: each bad line is reported with its number.
    std::string text = "# comment\n\n  model.channels = 4  \n";
    for (const auto& [line, reason] : table)
        text += line + "\n";
    std::vector<SimAssignment> out;
    std::vector<std::string> errors;
    EXPECT_FALSE(sim_parse_config(text + "\tsecurity.covert=1\r\n", "f.conf", out, errors));
    ASSERT_EQ(std::size(table), errors.size());
    for (size_t i = 0; i < errors.size(); ++i) {
        EXPECT_EQ(0u, errors[i].rfind("f.conf:" + std::to_string(i + 4) + ": ", 0)) << errors[i];
        EXPECT_NE(std::string::npos, errors[i].find(table[i].second)) << errors[i];
    }
    EXPECT_EQ(2u, out.size());
}

// The demo relies on an enabled user of every level, a disabled one, and
// covert cameras hidden by a nonzero security.covert.
TEST_F(SimConfig, BuiltInConfigurationOffersEveryKindOfUser)
{
    apply(std::string(sim_default_config()).c_str());
    std::set<int> levels;
    int disabled = 0, covert_cameras = 0;
    for (int i = 0; i < 25; ++i) {
        user_setting u;
        rw_user_setting(0, dev.cfg, dev.semid, &u, i);
        if (u.enable == 1)
            levels.insert(u.access_level);
        disabled += u.enable != 1 && u.username[0] != '\0';
    }
    for (int i = 0; i < 20; ++i)
        covert_cameras += *at(i < 16 ? 664 + 88 * i + 6 : 2072 + 40 * (i - 16) + 9) != 0;
    EXPECT_EQ((std::set<int>{0, 1, 2, 3}), levels);
    EXPECT_GE(disabled, 1);
    EXPECT_GE(covert_cameras, 2);
    EXPECT_NE(0, *at(8821)) << "security.covert 0 would show every camera to everybody";
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
    const std::string path = "/tmp/sim_test.conf." + std::to_string(getpid());
    std::ofstream(path) << "model.channels = 4\nnetwork.listen_port = 9000\n"
                        << "camera.analog.3.covert = 1\n";
    auto sim = start({"--config", path});
    const struct {
        std::vector<std::string> args;
        int status;
        std::string says;  // the whole output; part of it on a failure
    } runs[] = {
        {{"get", "camera.analog.3.covert"}, 0, "1\n"},
        {{"get", "model.channels"}, 0, "4\n"},
        {{"get", "network.listen_port"}, 0, "9000\n"},
        {{"set", "camera.analog.3.covert", "0"}, 0, ""},
        {{"get", "camera.analog.3.covert"}, 0, "0\n"},
        {{"set", "user.9", "eve", "secret", "2", "1"}, 0, ""},
        {{"users"}, 0, "eve:secret\n"},
        {{"set", "camera.analog.3.covert", "300"}, 1, "0..255"},
        {{"get", "camera.analog.3.covert"}, 0, "0\n"},
    };
    for (const auto& r : runs) {
        EXPECT_EQ(r.status, dvrsim(r.args, &text)) << r.args.back();
        if (r.status == 0)
            EXPECT_EQ(r.says, text) << r.args.back();
        else
            EXPECT_NE(std::string::npos, text.find(r.says)) << r.args.back() << ": " << text;
    }

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
