// modelled_device.h - the device as the system-call table shows it to the
// library: semop takes a modelled lock, msgsnd queues for a scripted service,
// usleep advances the clock gettimeofday reads. With the lock free, memory
// holds poison but for the words polled unlocked, so an unlocked read sees
// garbage and an unlocked write is found at the next lock. A call's trace
// (lock: a hold with nothing in it; down, up; send:TYPE/PAYLOAD;
// sleep:MICROSECONDS) states its holds, messages, poll count and interval.
#ifndef MODELLED_DEVICE_H
#define MODELLED_DEVICE_H

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "cgi_cfg_session.h"
#include "shm_syscalls.h"

namespace modelled {

using Bytes = std::vector<unsigned char>;
constexpr unsigned char kPoison = 0xDB;
constexpr int kSem = 7, kQueue = 8;  // any ids: nothing reaches the kernel

// One shared region: poison while the lock is free, but for the bytes open.
struct Guarded {
    const char* name;
    Bytes mem, kept;
    std::vector<bool> open;

    Guarded(const char* n, size_t size) : name(n), mem(size), open(size) {}
    void hide()
    {
        kept = mem;
        for (size_t i = 0; i < mem.size(); ++i)
            mem[i] = open[i] ? mem[i] : kPoison;
    }
    void reveal(std::vector<std::string>& faults)
    {
        size_t first = mem.size();
        for (size_t i = mem.size(); i-- > 0;) {
            first = mem[i] != (open[i] ? kept[i] : kPoison) ? i : first;
            mem[i] = open[i] ? mem[i] : kept[i];
        }
        if (first < mem.size())
            faults.push_back("unlocked write at " + std::string(name) + "+" +
                             std::to_string(first));
    }
};

// The device behind the replaced calls. Its service answers under the lock at
// the message (answer_after -1), during the nth sleep (n) or never (0).
struct Device {
    Guarded cfg{"cfg", CFG_SEGMENT_MIN_SIZE}, sch{"sch", SCH_TABLE_SIZE}, da{"da", DA_TABLE_SIZE};
    bool held = true;  // between calls the test itself looks at the memory
    uint64_t micros = uint64_t{1700000000} * 1000000;
    int sleeps = 0, payload = -1, answer_after = 0;
    std::vector<std::pair<long, int>> queue;  // every message sent
    std::function<void()> answer;
    std::vector<std::string> events, faults;

    void lock(bool take)
    {
        for (Guarded* g : {&cfg, &sch, &da})
            take ? g->reveal(faults) : g->hide();
        held = take;
    }
    void serve(int when)
    {
        if (when != answer_after || !answer)
            return;
        if (held)
            return faults.push_back("lock held across " + events.back());
        lock(true);
        answer();
        lock(false);
    }
};

inline Device* g_dev = nullptr;

class Modelled : public ::testing::Test {
  protected:
    void SetUp() override
    {
        g_dev = &dev;
        auto& sys = shm_internal::sys;
        sys.semop = [](int, struct sembuf* op, size_t) {
            const bool take = op->sem_op < 0;
            if (!take && !g_dev->events.empty() && g_dev->events.back() == "down")
                g_dev->events.back() = "lock";  // a hold with nothing else in it
            else
                g_dev->events.push_back(take ? "down" : "up");
            if (take == g_dev->held)
                g_dev->faults.push_back(take ? "lock taken twice" : "lock released while free");
            else
                g_dev->lock(take);
            return 0;
        };
        sys.msgsnd = [](int, const void* msg, size_t, int) {  // a type and one byte
            const long type = *static_cast<const long*>(msg);
            const int text = g_dev->payload = static_cast<const unsigned char*>(msg)[sizeof type];
            g_dev->queue.emplace_back(type, text);
            g_dev->events.push_back("send:" + std::to_string(type) + "/" + std::to_string(text));
            g_dev->serve(-1);
            return 0;
        };
        sys.usleep = [](useconds_t usec) {
            g_dev->events.push_back("sleep:" + std::to_string(usec));
            g_dev->micros += usec;
            g_dev->serve(++g_dev->sleeps);
            return 0;
        };
        sys.gettimeofday = [](struct timeval* tv) {
            tv->tv_sec = static_cast<time_t>(g_dev->micros / 1000000);
            tv->tv_usec = static_cast<suseconds_t>(g_dev->micros % 1000000);
            return 0;
        };
        // The words the protocol polls without the lock, and the filters
        // that are compared without it.
        const size_t ul = CFG_UL_STAT_OFFSET, rt = CFG_RT_UPDATE_OFFSET;
        for (const auto& [off, len] : {std::pair{ul + offsetof(data_ul_stat, status), 8},
                                       {ul + offsetof(data_ul_stat, cur_size), 4},
                                       {ul + offsetof(data_ul_stat, cancel), 4},
                                       {rt + offsetof(cfg_rt_update_data, ip_status), 1},
                                       {rt + offsetof(cfg_rt_update_data, release_date_status), 1}})
            std::fill_n(dev.cfg.open.begin() + long(off), len, true);
        for (size_t i = 0; i < SCH_SLOTS; ++i)
            std::fill_n(dev.sch.open.begin() + long(i * sizeof(sch_shm)),
                        offsetof(sch_shm, camera_map), true);
        for (size_t i = 0; i < dev.cfg.mem.size(); ++i)
            dev.cfg.mem[i] = static_cast<unsigned char>(i * 7 + 1);
    }
    void TearDown() override { shm_internal::sys = shm_internal::kRealSyscalls; }

    // One library call as the other processes see it: keeps its result and
    // returns its trace; a lock still held on return is a fault.
    std::string run(const std::function<int()>& call)
    {
        dev.events.clear(), dev.faults.clear(), dev.sleeps = 0;
        dev.lock(false);
        result = call();
        if (dev.held)
            dev.faults.push_back("returned holding the lock");
        else
            dev.lock(true);
        EXPECT_EQ(dev.faults, std::vector<std::string>{});
        answer(0, nullptr);
        std::string out;  // the events joined by blanks, a run once with its count: "lock*2"
        for (size_t i = 0, n = 1; i < dev.events.size(); i += n) {
            for (n = 1; i + n < dev.events.size() && dev.events[i + n] == dev.events[i];)
                ++n;
            out +=
                (out.empty() ? "" : " ") + dev.events[i] + (n > 1 ? "*" + std::to_string(n) : "");
        }
        return out;
    }
    void answer(int n, std::function<void()> f) { dev.answer_after = n, dev.answer = std::move(f); }

    unsigned char* cfg() { return dev.cfg.mem.data(); }
    uint32_t now() const { return static_cast<uint32_t>(dev.micros / 1000000); }
    data_ul_stat& ul() { return *reinterpret_cast<data_ul_stat*>(cfg() + CFG_UL_STAT_OFFSET); }
    sch_shm& sch_slot(int i) { return reinterpret_cast<sch_shm*>(dev.sch.mem.data())[i]; }
    da_shm& da_slot(int i) { return reinterpret_cast<da_shm*>(dev.da.mem.data())[i]; }

    Device dev;
    int result = 0;  // of the last call run
};

}  // namespace modelled

#endif
