// sim_loop.h - the simulator's main loop: takes every message off the device
// queue, hands it to the session services and logs one line per message.
#ifndef SIM_LOOP_H
#define SIM_LOOP_H

#include <csignal>
#include <cstdio>

struct SimDevice;

// Returns a short name of a message type of the device contract, or
// "unknown type" for one no sender can queue (0 or below).
const char* sim_message_name(long type);

// Serves the queue until `stop` becomes non-zero (set by a signal handler),
// polling without blocking and sleeping about 2 ms when it is empty; logs one
// line per message to `log`. Returns 0 on a requested stop, -1 when the
// queue can no longer be read (for example removed by someone else).
int sim_serve(SimDevice& dev, const volatile std::sig_atomic_t& stop, FILE* log);

#endif
