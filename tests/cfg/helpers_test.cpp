// helpers_test.cpp - fixed-width text fields and dotted IPv4 text.
#include "cgi_cfg_access.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace {

using std::string;

// A 12-byte field followed by guard bytes that no helper may touch: null
// padding returns the kept length, space padding 0.
TEST(Padding, TwelveByteFieldAndGuardUntouched)
{
    const std::tuple<bool, string, int, string> cases[] = {
        // null padding?, in, result, out
        {true, "alice       ", 5, "alice" + string(7, '\0')},
        {true, string("alice\0", 6), 5, "alice" + string(7, '\0')},
        {true, string("bob  \0", 6), 3, "bob" + string(9, '\0')},
        {true, string("\0", 1), 0, string(12, '\0')},
        {true, "            ", 0, string(12, '\0')},
        {true, "abcdefghijkl", 12, "abcdefghijkl"},
        {true, "abcdefghijk ", 11, "abcdefghijk" + string(1, '\0')},
        {true, " a b        ", 4, " a b" + string(8, '\0')},
        {true, string("x\0yz", 4), 1, "x" + string(11, '\0')},
        {false, string("alice\0", 6), 0, "alice       "},
        {false, string("\0", 1), 0, "            "},
        {false, "abcdefghijkl", 0, "abcdefghijkl"},
        {false, string("abcdefghijk\0", 12), 0, "abcdefghijk "},
        {false, string("a\0b", 3), 0, "a           "}};
    for (const auto& [null, in, result, out] : cases) {
        string f = in + string(16 - in.size(), '#');
        EXPECT_EQ(null ? nullPadding(&f[0], 12) : spacePadding(&f[0], 12), result) << in;
        EXPECT_EQ(f, out + "####") << in;
    }
}

// Text to value (input kept; of a text longer than the 80-byte work area
// only the first 79 bytes are looked at), and canonical text back to value.
TEST(ConvertIp, TextToValueAndBack)
{
    const std::pair<string, uint32_t> toValue[] = {{"10.0.0.256", 0x0A000100u},
                                                   {"1.256.0.0", 0x02000000u},
                                                   {"a.b.c.d", 0u},
                                                   {"1.2.3", 0x01020300u},
                                                   {"", 0u},
                                                   {"1.2.3.4" + string(200, ' '), 0x01020304u}};
    for (auto [text, value] : toValue) {
        const string given = text;
        EXPECT_EQ(static_cast<uint32_t>(convertIPtoI(&text[0])), value) << given;
        EXPECT_EQ(text, given) << "input changed";
    }
    const std::pair<uint32_t, string> toText[] = {{0xC0A80001u, "192.168.0.1"},
                                                  {0u, "0.0.0.0"},
                                                  {0xFFFFFFFFu, "255.255.255.255"},
                                                  {0x0A000102u, "10.0.1.2"}};
    for (const auto& [value, text] : toText) {
        string ip(80 + 4, '#');
        convertItoIP(&ip[0], static_cast<int>(value));
        EXPECT_EQ(ip, text + string(80 - text.size(), '\0') + "####");
        EXPECT_EQ(static_cast<uint32_t>(convertIPtoI(&ip[0])), value) << text;
    }
}

}  // namespace
