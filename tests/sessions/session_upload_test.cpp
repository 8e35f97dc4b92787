// session_upload_test.cpp - upload progress: the claim's four outcomes, the
// record states they leave, counter reset, piece hand-over and cancellation.
#include "session_fixture.h"

namespace session_test {
namespace {

class UploadTest : public SessionTest {
protected:
    // A service that answers a claim with `verdict` (status 2 or 3).
    void start_verdict_service(uint32_t verdict)
    {
        start_service([this, verdict](const Msg&) {
            zel_session::SemLock lock(semid);
            if (ul()->status == UL_STATUS_CLAIMED)
                ul()->status = verdict;
        });
    }

    std::vector<unsigned char> record_bytes()
    {
        return {cfg + CFG_UL_STAT_OFFSET, cfg + CFG_UL_STAT_OFFSET + sizeof(data_ul_stat)};
    }
};

TEST_F(UploadTest, ClaimOutcomes)
{
    const struct {
        const char* name;
        uint32_t verdict;  // 0: no service
        int result;
        uint32_t status_after;
    } cases[] = {{"accepted", UL_STATUS_ACCEPTED, FUP_ACCEPTED, 3},
                 {"refused", UL_STATUS_REFUSED, FUP_REFUSED, 2},
                 {"no answer", 0, FUP_NO_ANSWER, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::memset(ul(), 0, sizeof(data_ul_stat));
        if (c.verdict != 0)
            start_verdict_service(c.verdict);
        const uint32_t before = zel_session::now_seconds();
        EXPECT_EQ(fup_occupy(cfg, semid, msgid), c.result);
        stop_service();
        EXPECT_EQ(ul()->status, c.status_after);
        EXPECT_GE(ul()->access_ts, before);
        if (c.verdict == 0) {
            EXPECT_EQ(drain_types(), std::vector<long>{FUP_MSG});
        }
    }
}

TEST_F(UploadTest, ClaimWhileBusyTouchesNothing)
{
    for (uint32_t status : {1u, 2u, 3u, 77u}) {
        ul()->status = status;
        ul()->access_ts = 123;
        const auto before = record_bytes();
        EXPECT_EQ(fup_occupy(cfg, semid, msgid), FUP_BUSY);
        EXPECT_EQ(record_bytes(), before);
        EXPECT_TRUE(drain_types().empty());
    }
}

TEST_F(UploadTest, InitResetsCountersOnly)
{
    std::memset(ul(), 0xA5, sizeof(data_ul_stat));
    ul()->cancel = 1;
    const uint32_t before = zel_session::now_seconds();
    EXPECT_EQ(fup_init(cfg, semid, 0x01020304), 1);
    uint32_t total;  // the record's words are only 2-byte aligned
    std::memcpy(&total, cfg + 14370 + 8, 4);
    EXPECT_EQ(total, 0x01020304u);
    EXPECT_EQ(ul()->recv_size, 0u);
    EXPECT_EQ(ul()->cur_size, 0u);
    EXPECT_GE(ul()->start_ts, before);
    EXPECT_EQ(ul()->status, 0xA5A5A5A5u);
    EXPECT_EQ(ul()->buf_id, 0xA5A5A5A5u);
    EXPECT_EQ(ul()->access_ts, 0xA5A5A5A5u);
    EXPECT_EQ(ul()->cancel, 1u);
    EXPECT_TRUE(drain_types().empty());
}

TEST_F(UploadTest, PieceHandOver)
{
    const struct {
        const char* name;
        uint32_t cur_size, buf_id;
        bool service_takes;
        int result;
    } cases[] = {{"cur_size already 0", 0, 5, false, 1},
                 {"buf_id already 0", 9, 0, false, 1},
                 {"nobody takes it", 9, 5, false, 0},
                 {"service takes it", 9, 5, true, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
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
            EXPECT_EQ(drain_types(), std::vector<long>{FUP_MSG});
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
    EXPECT_EQ(drain_types(), std::vector<long>{FUP_MSG});
}

TEST_F(UploadTest, StatusCopiesTheWholeRecordAtItsOffset)
{
    for (size_t i = 0; i < sizeof(data_ul_stat); ++i)
        cfg[14370 + i] = static_cast<unsigned char>(i + 1);
    data_ul_stat copy;
    EXPECT_EQ(fup_get_status(cfg, semid, &copy), 0);
    EXPECT_EQ(std::memcmp(&copy, cfg + 14370, sizeof copy), 0);
}

}  // namespace
}  // namespace session_test
