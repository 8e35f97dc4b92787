// sim_config_test.cpp - the simulator in-process: its key grammar (every key
// lands at the right segment offset, bad lines are refused with a reason and
// their line number, the built-in configuration holds what the demo relies
// on). Its session services are tested on the modelled device in
// tests/sessions.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "cgi_cfg_access.h"
#include "config_new.h"
#include "sim_config.h"
#include "sim_device.h"
#include "sim_sessions.h"

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

TEST_F(SimConfig, EveryKindOfKeyLandsAtItsSegmentOffset)
{
    const struct {
        const char* line;            // one configuration line
        size_t offset;               // absolute segment offset of the field
        std::vector<uint8_t> bytes;  // expected field bytes (native order for numbers)
    } table[] = {
        {"model.code = 9", 30786, {9}},
        {"model.channels = 8", 30787, {8}},
        {"model.brand = 3", 30788, {3}},
        {"video_sys = 1", 9168, {1}},
        {"camera.analog.1.covert = 1", 670, {1}},
        {"camera.analog.16.covert = 5", 664 + 88 * 15 + 6, {5}},
        {"camera.ip.4.covert = 7", 2201, {7}},
        {"camera.ip.1.ip_addr = 10.1.2.3", 2072 + 4, native<uint32_t>(0x0a010203)},
        {"security.front_panel = 3", 8816, {3}},
        {"security.covert = 2", 8821, {2}},
        {"security.admin_timeout = 900", 8816 + 16, native<uint16_t>(900)},
        {"time.time_format = 1", 8796, {1}},
        {"time.date_format = 2", 8798, {2}},
        {"network.ip_addr = 192.168.0.1", 7424, native<uint32_t>(0xc0a80001)},
        {"network.ethernet_password = 4711", 7526, {'4', '7', '1', '1', 0}},
        {"network.tcp_control_port = 5001", 7536, native<uint16_t>(5001)},
        {"network.listen_port = 65535", 7538, native<uint16_t>(65535)},
        {"network.http_port = 8080", 7636, native<uint16_t>(8080)},
        {"info.hostname = box", 8955, {'b', 'o', 'x', 0}},
        {"info.model = ZR", 8864 + 41, {'Z', 'R', 0}},
        {"user.25 = zed pw 3 1", 636, {'z', 'e', 'd', 0}},
        {"user.25 = zed pw 3 1", 636 + 13, {'p', 'w', 0}},
        {"user.25 = zed pw 3 1", 660, {3, 1}},
    };
    for (const auto& p : table) {
        apply(p.line);
        EXPECT_EQ(0, memcmp(at(p.offset), p.bytes.data(), p.bytes.size())) << p.line;
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
    const struct {
        std::string line;    // a bad configuration line
        const char* reason;  // part of the error it must produce
    } table[] = {
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
    for (const auto& r : table) {
        std::vector<SimAssignment> out;
        std::vector<std::string> errors;
        EXPECT_FALSE(sim_parse_config(r.line, "f.conf", out, errors)) << r.line;
        ASSERT_EQ(1u, errors.size()) << r.line;
        EXPECT_EQ(0u, errors[0].rfind("f.conf:1: ", 0)) << errors[0];
        EXPECT_NE(std::string::npos, errors[0].find(r.reason)) << r.line << " -> " << errors[0];
        EXPECT_TRUE(out.empty());
    }
    // Every bad line is reported with its number; the good ones are kept.
    const char* text =
        "# comment\n\n  model.channels = 4  \nbogus = 1\r\n\tsecurity.covert=1\nmodel.code 3\n";
    std::vector<SimAssignment> out;
    std::vector<std::string> errors;
    EXPECT_FALSE(sim_parse_config(text, "x", out, errors));
    ASSERT_EQ(2u, errors.size());
    EXPECT_EQ(0u, errors[0].rfind("x:4: ", 0)) << errors[0];
    EXPECT_EQ(0u, errors[1].rfind("x:6: ", 0)) << errors[1];
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

}  // namespace
