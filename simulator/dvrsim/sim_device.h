// sim_device.h - the device objects the simulator owns: creating them (or
// refusing when they already exist), attaching to a running simulator's
// objects, and removing them.
#ifndef SIM_DEVICE_H
#define SIM_DEVICE_H

#include <cstddef>
#include <string>
#include <sys/types.h>

#include "srv_cgi_model.h"

struct SimDevice;

// The one key of the segment, the semaphore set and the queue.
constexpr key_t kSimKey = 1632;
// Segment size: the whole map (up to the end of the 70-byte model record at
// 30856), rounded up to a whole number of 4 KiB pages.
constexpr size_t kSimSegmentSize = 32768;
static_assert(kSimSegmentSize >= CFG_MODEL_SEGMENT_OFFSET + sizeof(cfg_model),
              "segment must hold the model record");

// Creates the zero-filled segment (attached) and the semaphore set
// (semaphore 0 at 1), but not yet the queue. When any of the three objects
// exists already it fails with an explanation in `err`, unless `replace`,
// which removes them first. On failure nothing that this call created is
// left behind.
bool sim_device_create(SimDevice& dev, bool replace, std::string& err);

// Creates the queue, the last of the three objects: other processes (and
// sim_device_attach) take its existence as the sign that the configuration
// is filled in. Returns false with an explanation in `err`; the segment and
// semaphore set stay for the caller to remove.
bool sim_device_open_queue(SimDevice& dev, std::string& err);

// Attaches to the objects of a running simulator. Returns false with an
// explanation in `err` (and nothing attached) when one of them is missing.
bool sim_device_attach(SimDevice& dev, std::string& err);

// Detaches the segment; the objects stay.
void sim_device_detach(SimDevice& dev);

// Detaches the segment and removes all three objects. Returns false when one
// of them could not be removed (the others are removed regardless).
bool sim_device_remove(SimDevice& dev);

#endif
