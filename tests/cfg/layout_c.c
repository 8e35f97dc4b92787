/* layout_c.c - the record headers compiled as C: their static assertions run
 * under the C compiler too, and the sizes it sees are handed to the C++ test. */
#include "cgi_cfg_access.h"
#include "debug.h"
#include "shm.h"

size_t cfg_c_sizeof_dvr_config(void) { return sizeof(dvr_config); }
size_t cfg_c_sizeof_cfg_model(void) { return sizeof(cfg_model); }
size_t cfg_c_offsetof_pre_rec_duration(void) { return offsetof(cfg_model, pre_rec_duration); }
size_t cfg_c_offsetof_info(void) { return offsetof(dvr_config, info); }
