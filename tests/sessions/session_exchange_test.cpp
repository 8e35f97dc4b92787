// session_exchange_test.cpp - the hand-shakes through the configuration
// segment: upload claim outcomes and record states, counter reset, piece
// hand-over and cancellation; answered and unanswered DHCP requests, the
// flags they leave, and setting the clock.
#include "session_fixture.h"

namespace session_test {
namespace {

class UploadTest : public SessionTest {
  protected:
    std::vector<unsigned char> record_bytes()
    {
        return {cfg + CFG_UL_STAT_OFFSET, cfg + CFG_UL_STAT_OFFSET + sizeof(data_ul_stat)};
    }
};

TEST_F(UploadTest, ClaimOutcomes)
{
    const struct {
        uint32_t status_before, verdict;  // verdict 0: no service
        int result;
        uint32_t status_after;
    } cases[] = {{0, UL_STATUS_ACCEPTED, FUP_ACCEPTED, 3},
                 {0, UL_STATUS_REFUSED, FUP_REFUSED, 2},
                 {0, 0, FUP_NO_ANSWER, 1},
                 {1, 0, FUP_BUSY, 1},
                 {2, 0, FUP_BUSY, 2},
                 {77, 0, FUP_BUSY, 77}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.status_before << "/" << c.verdict);
        std::memset(ul(), 0, sizeof(data_ul_stat));
        ul()->status = c.status_before;
        const auto before = record_bytes();
        if (c.verdict != 0)
            start_service([this, &c](const Msg& m) {
                zel_session::SemLock lock(semid);
                if (m.type == FUP_MSG && ul()->status == UL_STATUS_CLAIMED)
                    ul()->status = c.verdict;
            });
        const uint32_t now = zel_session::now_seconds();
        EXPECT_EQ(fup_occupy(cfg, semid, msgid), c.result);
        stop_service();
        EXPECT_EQ(ul()->status, c.status_after);
        if (c.result == FUP_BUSY) {
            EXPECT_EQ(record_bytes(), before);
        } else {
            EXPECT_GE(ul()->access_ts, now);
        }
        EXPECT_EQ(drain(), (c.result == FUP_NO_ANSWER ? std::vector<Msg>{{FUP_MSG, 0}}
                                                      : std::vector<Msg>{}));
    }
}

TEST_F(UploadTest, InitResetsCountersOnly)
{
    std::memset(ul(), 0xA5, sizeof(data_ul_stat));
    const uint32_t now = zel_session::now_seconds();
    EXPECT_EQ(fup_init(cfg, semid, 0x01020304), 1);
    data_ul_stat copy;  // also proves fup_get_status copies the record at its offset
    EXPECT_EQ(fup_get_status(cfg, semid, &copy), 0);
    EXPECT_EQ(std::memcmp(&copy, cfg + 14370, sizeof copy), 0);
    EXPECT_EQ(copy.total_size, 0x01020304u);
    EXPECT_EQ(copy.recv_size + copy.cur_size, 0u);
    EXPECT_GE(copy.start_ts, now);
    for (uint32_t kept : {copy.status, copy.buf_id, copy.access_ts, copy.cancel})
        EXPECT_EQ(kept, 0xA5A5A5A5u);
    EXPECT_TRUE(drain().empty());
}

TEST_F(UploadTest, PieceHandOver)
{
    const struct {
        uint32_t cur_size, buf_id;
        bool service_takes;
        int result;
    } cases[] = {{0, 5, false, 1}, {9, 0, false, 1}, {9, 5, false, 0}, {9, 5, true, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.cur_size << "/" << c.buf_id << "/" << c.service_takes);
        ul()->status = UL_STATUS_ACCEPTED;
        ul()->cur_size = c.cur_size;
        ul()->buf_id = c.buf_id;
        if (c.service_takes)
            start_service([this](const Msg&) {
                zel_session::SemLock lock(semid);
                ul()->recv_size += ul()->cur_size;
                ul()->cur_size = 0;
            });
        const auto before = record_bytes();
        EXPECT_EQ(fup_tavik_recv(cfg, semid, msgid, 512), c.result);
        stop_service();
        if (!c.service_takes) {
            EXPECT_EQ(record_bytes(), before);
            EXPECT_EQ(drain(), (std::vector<Msg>{{FUP_MSG, 0}}));
        }
    }
}

TEST_F(UploadTest, CancelOnFreeRecordStillNotifies)
{
    EXPECT_EQ(fup_is_cancelled(cfg), 0u);
    EXPECT_EQ(fup_cancel(cfg, semid, msgid), 0);
    EXPECT_EQ(ul()->cancel, 1u);
    EXPECT_EQ(ul()->status, 0u);
    EXPECT_NE(fup_is_cancelled(cfg), 0u);
    EXPECT_EQ(drain(), (std::vector<Msg>{{FUP_MSG, 0}}));
}

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

TEST_F(RuntimeTest, AnsweredAndUnansweredRequests)
{
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

TEST_F(RuntimeTest, SetTimeWritesOnlyCurTsAndSendsOneMessage)
{
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
