// sim_stream.h - the device's picture streams, as the simulator stands in
// for them: on 127.0.0.1 at the configuration's connection port
// (network.listen_port, the page's g_conn_port), one Motion-JPEG stream per
// camera (multipart/x-mixed-replace over HTTP), each picture a test picture
// of that camera (sim_stream_picture.h).
//
//   GET /live?cam=N&pass=P
//       camera N (1-16 analog, up to the model's channel count; 17-20 IP
//       cameras 1-4), pictures showing the device clock;
//   GET /playback?cam=N&year=Y&month=M&day=D&sec=S&pass=P
//       the recording of camera N from second S (0-86399) of the day Y-M-D
//       (the fields the playback page carries: Y 2000-2127, M 0-15, D 0-31),
//       running forward in real time within that day;
//   either with &still=1: one picture as image/jpeg instead of a stream.
//
// P must equal the configuration's connection passcode (the first four
// characters of network.ethernet_password, the page's g_conn_pass); a
// request without it is refused with 403 and no picture. A malformed
// request gets 400, a camera the model lacks 404, a request beyond the
// stream limit 503. Frames come at kSimStreamFps a second.
//
// The server runs in threads of its own, so the simulator's message loop
// never waits for it; the port is read from the configuration once a second
// and the server moves when it changes. A port in use (another simulator, in
// another IPC namespace, during the tests) is reported once and tried again.
//
// Built only where libjpeg-turbo and cpp-httplib are found (CMake option
// ZEL_STREAMS); elsewhere (the MIPS cross build) the calls below do nothing
// and sim_stream_available() is false.
#ifndef SIM_STREAM_H
#define SIM_STREAM_H

#include <cstdio>

#include "sim_sessions.h"

constexpr int kSimStreamFps = 10;
constexpr int kSimStreamMax = 16;  // streams open at once; more get 503

// True when this build serves streams.
bool sim_stream_available();

// Starts the stream server for the device `dev` (whose objects stay valid
// until sim_stream_stop), logging to `log`. Never blocks on the network.
void sim_stream_start(const SimDevice& dev, FILE* log);

// Tells the stream server that the device clock was set by a clock request
// (message 12301): it takes the new time from the runtime record.
void sim_stream_clock_set(const SimDevice& dev);

// Ends every stream, closes the port and joins the server's threads.
void sim_stream_stop();

#endif
