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

// The request layer's library calls the application's hooks; this program never runs a request.
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

// Users stored (name up to 13 bytes copied as is, level, enable); then a name
// given, the level required, and the name on the refusal page ("": admitted).
// Names compare over 12 bytes, trailing blanks dropped; only enable 1 counts;
// the earlier of two records decides; the 25th record is searched too.
TEST(Auth, LookUpAndRefusal)
{
    const int sem = create_sem(1632, 1);
    ASSERT_GE(sem, 0);
    std::vector<unsigned char> seg(CFG_SEGMENT_MIN_SIZE, 0);
    std::vector<std::tuple<std::string, int, int>> users = {
        {"alice", 3, 1}, {"bob         ", 4, 1}, {"abcdefghijklX", 6, 1}, {"dave", 7, 0},
        {"erin", 8, 2},  {"alice", 9, 1},        {"            ", 1, 1}};
    users.resize(24, {"filler", 1, 1});
    users.push_back({"last", 2, 1});
    for (std::size_t i = 0; i < users.size(); ++i) {
        user_setting u{};
        const auto& [name, level, enable] = users[i];
        std::memcpy(u.username, name.data(), name.size());
        u.access_level = static_cast<uint8_t>(level), u.enable = static_cast<uint8_t>(enable);
        ASSERT_EQ(rw_user_setting(1, seg.data(), sem, &u, static_cast<int>(i)), 0);
    }
    const std::tuple<std::string, int, int, std::string> cases[] = {
        {"alice   ", 3, 3, ""},
        {"alice", 3, 2, "alice"},
        {"bob", 4, 4, ""},
        {"BOB", -1, 9, "BOB"},
        {"abcdefghijklmnop", 6, 6, ""},
        {"abcdefghijk", -1, 9, "abcdefghijk"},
        {"dave", -1, 9, "dave"},
        {"erin", -1, 9, "erin"},
        {"", 1, 1, ""},
        {"alicex", -1, 9, "alicex"},
        {"last", 2, 2, ""},
        {"last", 2, -1, "last"}};
    for (auto [given, level, required, shown] : cases) {
        const std::string before = given;
        EXPECT_EQ(getUserLevel(seg.data(), sem, &given[0]), level) << before;
        EXPECT_EQ(given, before) << "the given name was modified";
        char* text = nullptr;
        size_t size = 0;
        FILE* const saved = cgiOut;
        cgiOut = open_memstream(&text, &size);
        EXPECT_EQ(checkPrivilige(seg.data(), sem, &given[0], required), shown.empty() ? 0 : -1);
        std::fclose(cgiOut);
        cgiOut = saved;
        const std::string page(text, size);
        EXPECT_TRUE(shown.empty() ? page.empty()
                                  : page.find("alert(\"User " + shown + " is not") != page.npos)
            << page;
        free(text);
        EXPECT_EQ(getSemVal(sem, 0), 1);
    }
    remove_sem(1632);
}

}  // namespace
