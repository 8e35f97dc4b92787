// sim_loop.cpp - the simulator's main loop over the device message queue.
#include "sim_loop.h"

#include <cerrno>
#include <cstring>
#include <sys/msg.h>
#include <unistd.h>

#include "sim_sessions.h"
#include "sim_stream.h"

namespace {

// Message types of the device contract. The disk-map family takes every
// type the others leave: 768 + operation, or 770 + zoom level.
constexpr long kSearchStart = 1, kSearchRefresh = 2, kSearchCancel = 3;
constexpr long kUpload = 12297, kDhcpSetting = 12298, kDhcpRelease = 12299, kSetTime = 12301;

// A queued message as the device's programs send it: a type and at most 4
// text bytes, of which the first is the payload.
struct QueueMessage {
    long type;              // message type, > 0
    unsigned char text[4];  // payload byte first
};

constexpr useconds_t kIdleSleepUs = 2000;

}  // namespace

const char* sim_message_name(long type)
{
    switch (type) {
        case kSearchStart:
            return "search start";
        case kSearchRefresh:
            return "search refresh";
        case kSearchCancel:
            return "search cancel";
        case kUpload:
            return "upload";
        case kDhcpSetting:
            return "DHCP settings request";
        case kDhcpRelease:
            return "DHCP release dates request";
        case kSetTime:
            return "set clock";
        default:
            break;
    }
    return type > 0 ? "disk map" : "unknown type";
}

int sim_serve(SimDevice& dev, const volatile std::sig_atomic_t& stop, FILE* log)
{
    while (!stop) {
        QueueMessage m{};
        const ssize_t n = msgrcv(dev.msgid, &m, sizeof m.text, 0, IPC_NOWAIT | MSG_NOERROR);
        if (n >= 0) {
            const unsigned char payload = n > 0 ? m.text[0] : 0;
            const bool answered = sim_sessions_handle(dev, m.type, payload);
            if (answered && m.type == kSetTime)
                sim_stream_clock_set(dev);  // the pictures show the device clock too
            fprintf(log, "dvrsim: message type %ld (%s) payload %u: %s\n", m.type,
                    sim_message_name(m.type), payload, answered ? "handled" : "unanswered");
        } else if (errno != ENOMSG && errno != EINTR) {
            fprintf(log, "dvrsim: cannot read the message queue (%s); stopping\n", strerror(errno));
            return -1;
        }
        sim_sessions_tick(dev);
        if (n < 0)
            usleep(kIdleSleepUs);
    }
    return 0;
}
