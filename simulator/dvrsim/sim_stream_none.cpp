// sim_stream_none.cpp - the stream interface in builds without libjpeg-turbo
// or cpp-httplib (CMake option ZEL_STREAMS off, as in the MIPS cross build):
// the simulator runs without pictures.
#include "sim_stream.h"

bool sim_stream_available()
{
    return false;
}

void sim_stream_start(const SimDevice&, FILE* log)
{
    fprintf(log, "dvrsim: streams not built in (no libjpeg-turbo or cpp-httplib); no pictures\n");
}

void sim_stream_clock_set(const SimDevice&) {}

void sim_stream_stop() {}
