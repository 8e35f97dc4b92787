// session_fixture.h - a private device for each session test: the
// configuration segment, the two session tables, the semaphore set and the
// queue, plus helpers to read the queue and to run a fake device service.
#ifndef SESSION_FIXTURE_H
#define SESSION_FIXTURE_H

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cgi_cfg_session.h"
#include "shm.h"

namespace session_test {

constexpr key_t kDeviceKey = 1632;
constexpr int kCfgSize = 32768;  // reaches past the end of the model record

// One queued message as the service sees it.
struct Msg {
    long type;
    int payload;
    bool operator==(const Msg& o) const { return type == o.type && payload == o.payload; }
};

inline void PrintTo(const Msg& m, std::ostream* os)
{
    *os << "{" << m.type << "," << m.payload << "}";
}

// Layout of a received message: a long type and up to 4 text bytes.
struct RawMsg {
    long type;
    unsigned char text[4];
};

// Members are public so that capture-less operation tables can reach them.
class SessionTest : public ::testing::Test {
public:
    void SetUp() override
    {
        semid = create_sem(kDeviceKey, 1);
        msgid = create_msg(kDeviceKey);
        cfg = attach(kDeviceKey, kCfgSize);
        sch = attach(SCH_SHM_KEY, SCH_TABLE_SIZE);
        da = attach(DA_SHM_KEY, DA_TABLE_SIZE);
        ASSERT_GE(semid, 0);
        ASSERT_GE(msgid, 0);
        drain();
    }

    void TearDown() override
    {
        stop_service();
        // Every operation must give the lock back.
        EXPECT_EQ(getSemVal(semid, 0), 1);
        for (unsigned char* p : {cfg, sch, da})
            shmdt(p);
        remove_shm(kDeviceKey);
        remove_shm(SCH_SHM_KEY);
        remove_shm(DA_SHM_KEY);
        remove_sem(kDeviceKey);
        remove_msg(kDeviceKey);
    }

    // Every message waiting on the queue, oldest first; the queue ends empty.
    std::vector<Msg> drain()
    {
        std::vector<Msg> out;
        RawMsg m;
        while (msgrcv(msgid, &m, sizeof m.text, 0, IPC_NOWAIT) >= 0)
            out.push_back({m.type, m.text[0]});
        return out;
    }

    // Types of every waiting message, for messages whose byte carries no value.
    std::vector<long> drain_types()
    {
        std::vector<long> out;
        for (const Msg& m : drain())
            out.push_back(m.type);
        return out;
    }

    // Runs `answer` in a child process for every message taken from the
    // queue, until stop_service() or the end of the test.
    void start_service(std::function<void(const Msg&)> answer)
    {
        service_pid = fork();
        if (service_pid == 0) {
            RawMsg m;
            while (msgrcv(msgid, &m, sizeof m.text, 0, 0) >= 0)
                answer({m.type, m.text[0]});
            _exit(0);
        }
        ASSERT_GT(service_pid, 0);
    }

    void stop_service()
    {
        if (service_pid > 0) {
            kill(service_pid, SIGKILL);
            waitpid(service_pid, nullptr, 0);
            service_pid = -1;
        }
    }

    data_ul_stat* ul() { return reinterpret_cast<data_ul_stat*>(cfg + CFG_UL_STAT_OFFSET); }
    cfg_rt_update_data* rt()
    {
        return reinterpret_cast<cfg_rt_update_data*>(cfg + CFG_RT_UPDATE_OFFSET);
    }
    sch_shm* sch_slot(int i) { return reinterpret_cast<sch_shm*>(sch) + i; }
    da_shm* da_slot(int i) { return reinterpret_cast<da_shm*>(da) + i; }

    int semid = -1;
    int msgid = -1;
    unsigned char* cfg = nullptr;  // configuration segment
    unsigned char* sch = nullptr;  // search table
    unsigned char* da = nullptr;   // disk-analysis table
    pid_t service_pid = -1;

private:
    static unsigned char* attach(key_t key, int size)
    {
        const int id = create_shm(key, size);
        void* p = get_shm_ptr_by_id(id);
        EXPECT_NE(p, nullptr);
        std::memset(p, 0, size);
        return static_cast<unsigned char*>(p);
    }
};

// Polls `cond` every 5 ms for up to 5 s: for effects that another process
// (a fake service) brings about at its own pace.
inline bool eventually(const std::function<bool()>& cond)
{
    for (int i = 0; i < 1000; ++i) {
        if (cond())
            return true;
        usleep(5000);
    }
    return cond();
}

}  // namespace session_test

#endif
