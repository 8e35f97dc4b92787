/** @file srv_cgi_cfg.h - records shared with the device core service outside the
 * configuration record: the model record and the session and exchange
 * records. Split by concern into the two headers below. */
#ifndef SRV_CGI_CFG_H
#define SRV_CGI_CFG_H

#include "srv_cgi_model.h"   /* cfg_model, at segment offset 30786 */
#include "srv_cgi_session.h" /* search, upload and runtime-update records */

#endif
