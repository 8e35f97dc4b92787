/** @file cgi_cfg_util.h - the configuration store and shared session services that
 * every device CGI program links: locked record accessors, text and address
 * helpers, user authorisation (cgi_cfg_access.h) and the search, disk-map,
 * upload and runtime-update sessions (cgi_cfg_session.h). */
#ifndef CGI_CFG_UTIL_H
#define CGI_CFG_UTIL_H

#include "cgi_cfg_access.h"
#include "cgi_cfg_session.h"

#endif
