/* session_headers_c.c - compiles the public session headers as C, so their
 * records and layout checks stay usable from C programs of the device. */
#include "cgi_cfg_session.h"

/* Referenced by the C++ tests so that the linker keeps this unit. */
int session_headers_c_sch_slot_size(void)
{
    return (int)sizeof(sch_shm);
}
