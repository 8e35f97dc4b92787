// session_runtime_test.cpp - runtime update requests: answered and
// unanswered DHCP requests, the flags they leave, and setting the clock.
#include "session_fixture.h"

namespace session_test {
namespace {

// One DHCP request kind: its operation, message and the two flags.
struct Kind {
    int (*request)(void*, int, int, cfg_rt_update_data*);
    long type;
    size_t own_flag, other_flag;  // offsets in the record
};

const Kind kKinds[] = {
    {get_dhcp_setting, RT_MSG_DHCP_SETTING, offsetof(cfg_rt_update_data, ip_status),
     offsetof(cfg_rt_update_data, release_date_status)},
    {get_dhcp_release, RT_MSG_DHCP_RELEASE, offsetof(cfg_rt_update_data, release_date_status),
     offsetof(cfg_rt_update_data, ip_status)},
};

using RuntimeTest = SessionTest;

TEST_F(RuntimeTest, AnsweredAndUnansweredRequests) {
    for (const Kind& k : kKinds) {
        for (bool answered : {true, false}) {
            SCOPED_TRACE(testing::Message() << k.type << (answered ? " answered" : " unanswered"));
            unsigned char* rec = cfg + CFG_RT_UPDATE_OFFSET;
            rec[k.own_flag] = 1;  // a stale answer must not count
            rec[k.other_flag] = 7;
            rt()->gateway = 0x0A000001;
            if (answered)
                start_service([this, k, rec](const Msg& m) {
                    zel_session::SemLock lock(semid);
                    rt()->gateway = 0xC0A80001;
                    rec[k.own_flag] = m.type == k.type ? RT_FLAG_ANSWERED : 9;
                });
            cfg_rt_update_data got;
            std::memset(&got, 0xEE, sizeof got);
            EXPECT_EQ(k.request(cfg, semid, msgid, &got), answered ? 0 : RT_NO_ANSWER);
            stop_service();
            cfg_rt_update_data want{};
            if (answered) {
                std::memcpy(&want, rec, sizeof want);
                reinterpret_cast<unsigned char*>(&want)[k.own_flag] = RT_FLAG_ANSWERED;
            }
            EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0) << "copy of the record";
            EXPECT_EQ(rec[k.own_flag], RT_FLAG_TAKEN);
            EXPECT_EQ(rec[k.other_flag], 7);
            EXPECT_EQ(rt()->gateway, answered ? 0xC0A80001u : 0x0A000001u);
            EXPECT_EQ(drain(), (answered ? std::vector<Msg>{} : std::vector<Msg>{{k.type, 0}}));
        }
    }
}

TEST_F(RuntimeTest, SetTimeWritesOnlyCurTsAndSendsOneMessage) {
    unsigned char* around = cfg + CFG_RT_UPDATE_OFFSET - 16;
    for (int i = 0; i < 64; ++i)
        around[i] = static_cast<unsigned char>(0x40 + i);
    std::vector<unsigned char> want(around, around + 64);
    const uint32_t ts = 0x61626364;
    std::memcpy(&want[16 + 30], &ts, 4);
    EXPECT_EQ(set_system_time(cfg, semid, msgid, ts), 0);
    EXPECT_EQ(std::vector<unsigned char>(around, around + 64), want);
    EXPECT_EQ(drain(), (std::vector<Msg>{{RT_MSG_SET_TIME, 0}}));
}

}  // namespace
}  // namespace session_test
