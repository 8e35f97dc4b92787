// auth_test.cpp - user look-up in the segment's user table and the refusal
// page written for users below the required level.
#include "cgi_cfg_access.h"
#include "cgi_request.h"
#include "shm.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
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

struct User {
    std::string name;  // up to 13 bytes, copied as is (no terminator added)
    int level;
    int enable;
};

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
            std::memcpy(u.username, users[i].name.data(), users[i].name.size());
            u.access_level = static_cast<uint8_t>(users[i].level);
            u.enable = static_cast<uint8_t>(users[i].enable);
            ASSERT_EQ(rw_user_setting(1, seg_.data(), sem_, &u, static_cast<int>(i)), 0);
        }
    }

    int level_of(const std::string& given)
    {
        std::vector<char> copy(given.begin(), given.end());
        copy.push_back('\0');
        const std::vector<char> before = copy;
        const int level = getUserLevel(seg_.data(), sem_, copy.data());
        EXPECT_EQ(copy, before) << "the given name was modified";
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
    struct Case {
        const char* given;
        int level;
    } cases[] = {
        {"alice", 3},        {"alice   ", 3}, {"bob", 4},   {"BOB", -1},
        {"Alice", -1},       {"carol", -1},   {"Carol", 5}, {"abcdefghijklmnop", 6},
        {"abcdefghijk", -1}, {"dave", -1},    {"erin", -1}, {"", 10},
        {"   ", 10},         {"zed", -1},     {"alic", -1}, {"alicex", -1},
        {"last", 42},
    };
    for (const Case& c : cases)
        EXPECT_EQ(level_of(c.given), c.level) << '"' << c.given << '"';
}

// Runs checkPrivilige with the response going to a temporary file.
std::string refusal_output(void* seg, int sem, const char* given, int level, int* rc)
{
    FILE* out = std::tmpfile();
    FILE* const saved = cgiOut;
    cgiOut = out;
    std::vector<char> copy(given, given + std::strlen(given) + 1);
    *rc = checkPrivilige(seg, sem, copy.data(), level);
    cgiOut = saved;
    std::string text;
    std::rewind(out);
    for (int c; (c = std::fgetc(out)) != EOF;)
        text.push_back(static_cast<char>(c));
    std::fclose(out);
    return text;
}

std::string refusal_page(const std::string& user)
{
    return "Content-type: text/html\r\n\r\n"
           "<html><body><script lang=javascript>alert(\"User " +
           user +
           " is not authorized to access this page.\"); top.location=\"/index.html\"; "
           "</script></body></html>";
}

TEST_F(Auth, CheckPriviligeAdmitsUpToTheLevel)
{
    set_users({{"frank", 0, 1}, {"gina", 1, 1}, {"hank", 2, 1}, {"ivan", 2, 0}});
    struct Case {
        const char* given;
        int required;
        int rc;
        std::string page;
    } cases[] = {
        {"frank", 1, 0, ""},
        {"gina", 1, 0, ""},
        {"hank", 1, -1, refusal_page("hank")},
        {"hank  ", 1, -1, refusal_page("hank")},  // the page shows the normalised name
        {"ivan", 5, -1, refusal_page("ivan")},
        {"nobody", 255, -1, refusal_page("nobody")},
        {"frank", -1, -1, refusal_page("frank")},
    };
    for (const Case& c : cases) {
        int rc = 0;
        EXPECT_EQ(refusal_output(seg_.data(), sem_, c.given, c.required, &rc), c.page) << c.given;
        EXPECT_EQ(rc, c.rc) << c.given;
    }
}

}  // namespace
