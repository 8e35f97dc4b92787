// session_fixture.h - a private device per session test (configuration
// segment, both session tables, semaphore set, queue) with helpers to read
// the queue, run a fake device service and fork short-lived children.
#ifndef SESSION_FIXTURE_H
#define SESSION_FIXTURE_H

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <vector>
#include <sys/msg.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cgi_cfg_session.h"
#include "session_lock.h"
#include "shm.h"

namespace session_test {

constexpr key_t kDeviceKey = 1632;
constexpr int kCfgSize = 32768;  // reaches past the end of the model record

// One queued message as the service sees it.
struct Msg {
    long type;
    int payload;
};

// Layout of a received message: a long type and up to 4 text bytes.
struct RawMsg {
    long type;
    unsigned char text[4];
};

// Runs `body` in a child process whose exit status is its result.
inline pid_t spawn(const std::function<int()>& body)
{
    const pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    return pid;
}

// Exit status of the child, or -1 when it did not exit normally.
inline int wait_exit(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

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
    }

    void TearDown() override
    {
        stop_service();
        EXPECT_EQ(getSemVal(semid, 0), 1) << "an operation kept the lock";
        for (unsigned char* p : {cfg, sch, da})
            shmdt(p);
        for (key_t k : {kDeviceKey, key_t{SCH_SHM_KEY}, key_t{DA_SHM_KEY}})
            remove_shm(k);
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

    // Runs `answer` in a child for every message taken from the queue, until
    // stop_service() or the end of the test.
    void start_service(std::function<void(const Msg&)> answer)
    {
        service_pid = spawn([&] {
            RawMsg m;
            while (msgrcv(msgid, &m, sizeof m.text, 0, 0) >= 0)
                answer({m.type, m.text[0]});
            return 0;
        });
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
    sch_shm* sch_slot(int i) { return reinterpret_cast<sch_shm*>(sch) + i; }
    da_shm* da_slot(int i) { return reinterpret_cast<da_shm*>(da) + i; }
    uint32_t counter(const unsigned char* at)
    {
        uint32_t v;
        std::memcpy(&v, at, sizeof v);
        return v;
    }

    int semid = -1;
    int msgid = -1;
    unsigned char* cfg = nullptr;  // configuration segment
    unsigned char* sch = nullptr;  // search table
    unsigned char* da = nullptr;   // disk-analysis table
    pid_t service_pid = -1;

  private:
    static unsigned char* attach(key_t key, int size)
    {
        void* p = get_shm_ptr_by_id(create_shm(key, size));
        EXPECT_NE(p, nullptr);
        std::memset(p, 0, size);
        return static_cast<unsigned char*>(p);
    }
};

}  // namespace session_test

#endif
