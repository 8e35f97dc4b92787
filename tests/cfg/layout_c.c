/* layout_c.c - the public record headers compiled as C: their size and
 * offset assertions run under the C compiler too, so C programs of the
 * device see the same shared layout as the C++ code. */
#include "cgi_cfg_access.h"
#include "cgi_cfg_session.h"
#include "debug.h"
#include "shm.h"
