// session_runtime_test.cpp - runtime update requests: answered and
// unanswered DHCP requests, the flags they leave, and setting the clock.
#include "session_fixture.h"

namespace session_test {
namespace {

using Request = int (*)(void*, int, int, cfg_rt_update_data*);

// One DHCP request kind: its operation, message and the two flags.
struct Kind {
    const char* name;
    Request request;
    long type;
    size_t own_flag, other_flag;  // offsets in the record
};

const Kind kKinds[] = {
    {"setting", get_dhcp_setting, RT_MSG_DHCP_SETTING, offsetof(cfg_rt_update_data, ip_status),
     offsetof(cfg_rt_update_data, release_date_status)},
    {"release", get_dhcp_release, RT_MSG_DHCP_RELEASE,
     offsetof(cfg_rt_update_data, release_date_status), offsetof(cfg_rt_update_data, ip_status)},
};

class RuntimeTest : public SessionTest {
protected:
    unsigned char* rec() { return cfg + CFG_RT_UPDATE_OFFSET; }
};

TEST_F(RuntimeTest, AnsweredRequestCopiesRecordAndTakesFlag)
{
    for (const Kind& k : kKinds) {
        SCOPED_TRACE(k.name);
        rec()[k.other_flag] = 7;
        start_service([this, k](const Msg& m) {
            if (m.type != k.type)
                return;
            zel_session::SemLock lock(semid);
            rt()->gateway = 0xC0A80001;
            rt()->dhcp_update_date = 0x5F000000;
            rec()[k.own_flag] = RT_FLAG_ANSWERED;
        });
        cfg_rt_update_data got;
        std::memset(&got, 0xEE, sizeof got);
        EXPECT_EQ(k.request(cfg, semid, msgid, &got), 0);
        stop_service();
        EXPECT_EQ(got.gateway, 0xC0A80001u);
        EXPECT_EQ(got.dhcp_update_date, 0x5F000000u);
        EXPECT_EQ(reinterpret_cast<unsigned char*>(&got)[k.own_flag], RT_FLAG_ANSWERED);
        EXPECT_EQ(rec()[k.own_flag], RT_FLAG_TAKEN);
        EXPECT_EQ(rec()[k.other_flag], 7);
    }
}

TEST_F(RuntimeTest, UnansweredRequestZeroFillsAndTakesFlag)
{
    for (const Kind& k : kKinds) {
        SCOPED_TRACE(k.name);
        rec()[k.own_flag] = 1;  // a stale answer must not count
        rec()[k.other_flag] = 7;
        rt()->ip_addr = 0x0A000001;
        cfg_rt_update_data got;
        std::memset(&got, 0xEE, sizeof got);
        EXPECT_EQ(k.request(cfg, semid, msgid, &got), RT_NO_ANSWER);
        const cfg_rt_update_data zero{};
        EXPECT_EQ(std::memcmp(&got, &zero, sizeof got), 0);
        EXPECT_EQ(rec()[k.own_flag], RT_FLAG_TAKEN);
        EXPECT_EQ(rec()[k.other_flag], 7);
        EXPECT_EQ(rt()->ip_addr, 0x0A000001u);
        EXPECT_EQ(drain_types(), std::vector<long>{k.type});
    }
}

TEST_F(RuntimeTest, SetTimeWritesOnlyCurTsAndSendsOneMessage)
{
    for (int i = 0; i < 64; ++i)
        cfg[CFG_RT_UPDATE_OFFSET - 16 + i] = static_cast<unsigned char>(0x40 + i);
    std::vector<unsigned char> want(cfg + CFG_RT_UPDATE_OFFSET - 16, cfg + CFG_RT_UPDATE_OFFSET + 48);
    const uint32_t ts = 0x61626364;
    std::memcpy(&want[16 + 30], &ts, 4);
    EXPECT_EQ(set_system_time(cfg, semid, msgid, ts), 0);
    EXPECT_EQ(std::vector<unsigned char>(cfg + CFG_RT_UPDATE_OFFSET - 16, cfg + CFG_RT_UPDATE_OFFSET + 48),
              want);
    EXPECT_EQ(drain_types(), std::vector<long>{RT_MSG_SET_TIME});
}

}  // namespace
}  // namespace session_test
