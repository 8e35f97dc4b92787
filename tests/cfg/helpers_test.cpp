// helpers_test.cpp - fixed-width text fields and dotted IPv4 text.
#include "cgi_cfg_access.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace {

using std::string;

// A 12-byte field followed by guard bytes no helper may touch: null padding
// returns the kept length, space padding 0.
TEST(Padding, TwelveByteFieldAndGuardUntouched)
{
    const std::tuple<bool, string, int, string> cases[] = {
        {true, "alice       ", 5, "alice" + string(7, '\0')},
        {true, "            ", 0, string(12, '\0')},
        {true, "abcdefghijkl", 12, "abcdefghijkl"},
        {true, string(" a b  \0yz", 9), 4, " a b" + string(8, '\0')},
        {false, string("abcdefghijk\0", 12), 0, "abcdefghijk "},
        {false, string("a\0b", 3), 0, "a           "}};
    for (const auto& [null, in, result, out] : cases) {
        string f = in + string(16 - in.size(), '#');
        EXPECT_EQ(null ? nullPadding(&f[0], 12) : spacePadding(&f[0], 12), result) << in;
        EXPECT_EQ(f, out + "####") << in;
    }
}

// Text to value (input kept, only the first 79 bytes looked at), and
// canonical text (in an 80-byte field) back to value.
TEST(ConvertIp, TextToValueAndBack)
{
    const std::pair<string, uint32_t> toValue[] = {{"10.0.0.256", 0x0A000100u},
                                                   {"1.2.3", 0x01020300u},
                                                   {"1.2.3.4" + string(200, ' '), 0x01020304u}};
    for (auto [text, value] : toValue) {
        const string given = text;
        EXPECT_EQ(static_cast<uint32_t>(convertIPtoI(&text[0])), value) << given;
        EXPECT_EQ(text, given) << "input changed";
    }
    for (string text : {"192.168.0.1", "255.255.255.255"}) {
        string ip(80 + 4, '#');
        convertItoIP(&ip[0], convertIPtoI(&text[0]));
        EXPECT_EQ(ip, text + string(80 - text.size(), '\0') + "####");
    }
}

}  // namespace
