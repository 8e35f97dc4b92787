// sim_device.cpp - lifetime of the simulator's System V objects, through the
// device's IPC wrappers.
#include "sim_device.h"

#include <cerrno>
#include <cstring>
#include <sys/shm.h>

#include "shm.h"
#include "sim_sessions.h"

namespace {

bool any_exists()
{
    return get_shm_id(kSimKey) >= 0 || get_sem(kSimKey) >= 0 || get_msg_id(kSimKey) >= 0;
}

// Removes whatever of the three objects exists; true when none is left.
bool remove_all()
{
    if (get_msg_id(kSimKey) >= 0)
        remove_msg(kSimKey);
    if (get_sem(kSimKey) >= 0)
        remove_sem(kSimKey);
    if (get_shm_id(kSimKey) >= 0)
        remove_shm(kSimKey);
    return !any_exists();
}

}  // namespace

bool sim_device_create(SimDevice& dev, bool replace, std::string& err)
{
    dev = SimDevice{nullptr, -1, -1};
    if (any_exists() && !replace) {
        err =
            "System V objects with key 1632 already exist: another simulator is running, or one "
            "ended without cleaning up. Stop it, or start with --replace to remove and recreate "
            "them.";
        return false;
    }
    if (replace && !remove_all()) {
        err = "cannot remove the existing objects with key 1632";
        return false;
    }
    const int shmid = create_shm(kSimKey, static_cast<int>(kSimSegmentSize));
    const char* failed = shmid < 0 ? "segment" : nullptr;
    if (!failed && !(dev.cfg = get_shm_ptr_by_id(shmid)))
        failed = "segment attachment";
    if (!failed && (dev.semid = create_sem(kSimKey, 1)) < 0)
        failed = "semaphore set";
    if (failed) {
        err = std::string("cannot create the ") + failed + " with key 1632: " + strerror(errno);
        sim_device_remove(dev);
        return false;
    }
    return true;
}

bool sim_device_open_queue(SimDevice& dev, std::string& err)
{
    dev.msgid = create_msg(kSimKey);
    if (dev.msgid >= 0)
        return true;
    err = std::string("cannot create the message queue with key 1632: ") + strerror(errno);
    return false;
}

bool sim_device_attach(SimDevice& dev, std::string& err)
{
    dev = SimDevice{nullptr, get_sem(kSimKey), get_msg_id(kSimKey)};
    const int shmid = get_shm_id(kSimKey);
    if (shmid < 0 || dev.semid < 0 || dev.msgid < 0) {
        err = "no simulator is running (no objects with key 1632; start one with 'dvrsim run')";
        return false;
    }
    dev.cfg = get_shm_ptr_by_id(shmid);
    if (!dev.cfg) {
        err = "cannot attach the configuration segment";
        return false;
    }
    return true;
}

void sim_device_detach(SimDevice& dev)
{
    if (dev.cfg)
        shmdt(dev.cfg);
    dev.cfg = nullptr;
}

bool sim_device_remove(SimDevice& dev)
{
    sim_device_detach(dev);
    dev.semid = dev.msgid = -1;
    return remove_all();
}
