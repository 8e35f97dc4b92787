// auth_test.cpp - user look-up in the segment's user table and the refusal
// page written for users below the required level.
#include "cgi_cfg_access.h"
#include "cgi_request.h"
#include "shm.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

// The request layer's library carries calls to the application's hooks;
// this test program is its own application and never runs a request.
extern "C" int cgiMain(void)
{
    return 0;
}
extern "C" int cgiOnInit(void)
{
    return 0;
}
extern "C" int cgiOnRecvFormFile(char*, int, int)
{
    return 0;
}

namespace {

constexpr key_t kKey = 1632;

// Name (up to 13 bytes, copied as is, no terminator added), level, enable.
using User = std::tuple<std::string, int, int>;

class Auth : public ::testing::Test {
  protected:
    void SetUp() override
    {
        sem_ = create_sem(kKey, 1);
        ASSERT_GE(sem_, 0);
        seg_.assign(CFG_SEGMENT_MIN_SIZE, 0);
    }
    void TearDown() override { remove_sem(kKey); }

    void set_users(const std::vector<User>& users)
    {
        for (std::size_t i = 0; i < users.size(); ++i) {
            user_setting u;
            std::memset(&u, 0, sizeof u);
            const auto& [name, level, enable] = users[i];
            std::memcpy(u.username, name.data(), name.size());
            u.access_level = static_cast<uint8_t>(level), u.enable = static_cast<uint8_t>(enable);
            ASSERT_EQ(rw_user_setting(1, seg_.data(), sem_, &u, static_cast<int>(i)), 0);
        }
    }

    int level_of(const std::string& given)
    {
        std::string copy = given;
        const int level = getUserLevel(seg_.data(), sem_, &copy[0]);
        EXPECT_EQ(copy, given) << "the given name was modified";
        EXPECT_EQ(getSemVal(sem_, 0), 1);
        return level;
    }

    int sem_ = -1;
    std::vector<unsigned char> seg_;
};

TEST_F(Auth, LookUpTable)
{
    EXPECT_EQ(level_of("alice"), -1);  // empty table
    std::vector<User> users = {
        {"alice", 3, 1},         {"bob         ", 4, 1},   // stored with trailing blanks
        {"Carol", 5, 1},         {"abcdefghijklX", 6, 1},  // 13 bytes: only the first 12 count
        {"dave", 7, 0},                                    // disabled
        {"erin", 8, 2},                                    // enable other than 1
        {"alice", 9, 1},                                   // duplicate: the earlier record decides
        {"            ", 10, 1},                           // all blank: matches an empty name
    };
    users.resize(24, User{"filler", 1, 1});
    users.push_back({"last", 42, 1});  // the 25th record is searched too
    set_users(users);
    const std::pair<const char*, int> cases[] = {
        {"alice", 3},        {"alice   ", 3}, {"bob", 4},   {"BOB", -1},
        {"Alice", -1},       {"carol", -1},   {"Carol", 5}, {"abcdefghijklmnop", 6},
        {"abcdefghijk", -1}, {"dave", -1},    {"erin", -1}, {"", 10},
        {"   ", 10},         {"zed", -1},     {"alic", -1}, {"alicex", -1},
        {"last", 42}};
    for (const auto& [given, level] : cases)
        EXPECT_EQ(level_of(given), level) << '"' << given << '"';
}

TEST_F(Auth, CheckPriviligeAdmitsUpToTheLevel)
{
    set_users({{"frank", 0, 1}, {"gina", 1, 1}, {"hank", 2, 1}, {"ivan", 2, 0}});
    // given name, required level, the name on the refusal page ("": admitted)
    const std::tuple<const char*, int, std::string> cases[] = {
        {"frank", 1, ""},      {"gina", 1, ""},     {"hank", 1, "hank"},
        {"hank  ", 1, "hank"}, {"ivan", 5, "ivan"}, {"nobody", 255, "nobody"},
        {"frank", -1, "frank"}};
    for (const auto& [given, required, shown] : cases) {
        char* text = nullptr;
        size_t size = 0;
        FILE* const saved = cgiOut;
        cgiOut = open_memstream(&text, &size);
        std::vector<char> copy(given, given + std::strlen(given) + 1);
        const int rc = checkPrivilige(seg_.data(), sem_, copy.data(), required);
        std::fclose(cgiOut);
        cgiOut = saved;
        EXPECT_EQ(rc, shown.empty() ? 0 : -1) << given;
        const std::string page =
            "Content-type: text/html\r\n\r\n<html><body><script "
            "lang=javascript>alert(\"User " +
            shown +
            " is not authorized to access this page.\"); "
            "top.location=\"/index.html\"; </script></body></html>";
        EXPECT_EQ(std::string(text, size), shown.empty() ? "" : page) << given;
        free(text);
    }
}

}  // namespace
