// session_upload_test.cpp - upload progress: the claim's outcomes, the
// record states they leave, counter reset, piece hand-over and cancellation.
#include "session_fixture.h"

namespace session_test {
namespace {

class UploadTest : public SessionTest {
protected:
    std::vector<unsigned char> record_bytes() {
        return {cfg + CFG_UL_STAT_OFFSET, cfg + CFG_UL_STAT_OFFSET + sizeof(data_ul_stat)};
    }
};

TEST_F(UploadTest, ClaimOutcomes) {
    const struct {
        uint32_t status_before, verdict;  // verdict 0: no service
        int result;
        uint32_t status_after;
    } cases[] = {{0, UL_STATUS_ACCEPTED, FUP_ACCEPTED, 3}, {0, UL_STATUS_REFUSED, FUP_REFUSED, 2},
                 {0, 0, FUP_NO_ANSWER, 1},                 {1, 0, FUP_BUSY, 1},
                 {2, 0, FUP_BUSY, 2},                      {77, 0, FUP_BUSY, 77}};
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
        EXPECT_EQ(drain(), (c.result == FUP_NO_ANSWER ? std::vector<Msg>{{FUP_MSG, 0}} : std::vector<Msg>{}));
    }
}

TEST_F(UploadTest, InitResetsCountersOnly) {
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

TEST_F(UploadTest, PieceHandOver) {
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

TEST_F(UploadTest, CancelOnFreeRecordStillNotifies) {
    EXPECT_EQ(fup_is_cancelled(cfg), 0u);
    EXPECT_EQ(fup_cancel(cfg, semid, msgid), 0);
    EXPECT_EQ(ul()->cancel, 1u);
    EXPECT_EQ(ul()->status, 0u);
    EXPECT_NE(fup_is_cancelled(cfg), 0u);
    EXPECT_EQ(drain(), (std::vector<Msg>{{FUP_MSG, 0}}));
}

}  // namespace
}  // namespace session_test
