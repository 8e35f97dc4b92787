// sim_session_exchange.h - the simulator's answers through the exchange
// records of the configuration segment: upload hand-over, DHCP data and the
// device clock.
#ifndef SIM_SESSION_EXCHANGE_H
#define SIM_SESSION_EXCHANGE_H

#include "sim_session_common.h"

// Answers an upload, DHCP or clock message; false for any other type.
bool sim_exchange_handle(SimSessionState& st, SimDevice& dev, long type);

// Ends refused and abandoned uploads and frees claims that were never
// announced, judged at wall second `now`.
void sim_exchange_tick(SimSessionState& st, SimDevice& dev, uint32_t now);

#endif
