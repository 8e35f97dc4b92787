// helpers_test.cpp - fixed-width text fields and dotted IPv4 text.
#include "cgi_cfg_access.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A 12-byte field followed by guard bytes that no helper may touch.
struct Field {
    char bytes[12 + 4];
};

Field make_field(const std::string& content)
{
    Field f;
    std::fill(std::begin(f.bytes), std::end(f.bytes), '#');
    std::copy(content.begin(), content.end(), f.bytes);
    return f;
}

std::string field_bytes(const Field& f)
{
    return std::string(f.bytes, 12);
}

TEST(NullPadding, Table)
{
    const std::string nul12(12, '\0');
    struct Case {
        std::string in;  // first bytes of the field; the rest is '#'
        int result;
        std::string out;  // the 12 bytes afterwards
    } cases[] = {
        {"alice       ", 5, std::string("alice") + std::string(7, '\0')},
        {std::string("alice\0", 6), 5, std::string("alice") + std::string(7, '\0')},
        {std::string("bob  \0", 6), 3, std::string("bob") + std::string(9, '\0')},
        {std::string("\0", 1), 0, nul12},
        {"            ", 0, nul12},
        {"abcdefghijkl", 12, "abcdefghijkl"},
        {"abcdefghijk ", 11, std::string("abcdefghijk") + '\0'},
        {" a b        ", 4, std::string(" a b") + std::string(8, '\0')},
        {std::string("x\0yz", 4), 1, std::string("x") + std::string(11, '\0')},
    };
    for (const Case& c : cases) {
        Field f = make_field(c.in);
        EXPECT_EQ(nullPadding(f.bytes, 12), c.result) << c.in;
        EXPECT_EQ(field_bytes(f), c.out) << c.in;
        EXPECT_EQ(std::string(f.bytes + 12, 4), "####") << c.in;
    }
}

TEST(SpacePadding, Table)
{
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        {std::string("alice\0", 6), "alice       "},
        {std::string("\0", 1), "            "},
        {"abcdefghijkl", "abcdefghijkl"},
        {std::string("abcdefghijk\0", 12), "abcdefghijk "},
        {std::string("a\0b", 3), "a           "},
    };
    for (const Case& c : cases) {
        Field f = make_field(c.in);
        EXPECT_EQ(spacePadding(f.bytes, 12), 0) << c.in;
        EXPECT_EQ(field_bytes(f), c.out) << c.in;
        EXPECT_EQ(std::string(f.bytes + 12, 4), "####") << c.in;
    }
}

TEST(ConvertIp, TextToValue)
{
    struct Case {
        const char* text;
        uint32_t value;
    } cases[] = {
        {"192.168.0.1", 0xC0A80001u},     {"0.0.0.0", 0u},
        {"255.255.255.255", 0xFFFFFFFFu}, {"10.0.0.256", 0x0A000100u},
        {"1.256.0.0", 0x02000000u},       {"a.b.c.d", 0u},
        {"1.2.3", 0x01020300u},           {"", 0u},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        EXPECT_EQ(static_cast<uint32_t>(convertIPtoI(&text[0])), c.value) << c.text;
        EXPECT_EQ(text, c.text) << "input changed";
    }
}

TEST(ConvertIp, TextLongerThanTheWorkAreaIsCut)
{
    // 200 trailing blanks: only the first 79 bytes are looked at (the sanitizer
    // build checks that nothing beyond the work area is touched).
    std::string text = "1.2.3.4" + std::string(200, ' ');
    EXPECT_EQ(static_cast<uint32_t>(convertIPtoI(&text[0])), 0x01020304u);
}

TEST(ConvertIp, ValueToText)
{
    struct Case {
        uint32_t value;
        const char* text;
    } cases[] = {{0xC0A80001u, "192.168.0.1"},
                 {0u, "0.0.0.0"},
                 {0xFFFFFFFFu, "255.255.255.255"},
                 {0x0A000102u, "10.0.1.2"}};
    for (const Case& c : cases) {
        char ip[80 + 4];
        std::fill(std::begin(ip), std::end(ip), '#');
        convertItoIP(ip, static_cast<int>(c.value));
        EXPECT_STREQ(ip, c.text);
        for (std::size_t i = std::string(c.text).size(); i < 80; ++i)
            ASSERT_EQ(ip[i], '\0') << i;
        EXPECT_EQ(std::string(ip + 80, 4), "####");
        EXPECT_EQ(static_cast<uint32_t>(convertIPtoI(ip)), c.value) << c.text;
    }
}

}  // namespace
