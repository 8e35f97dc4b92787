/** @file cgi_request_limits.h - the most that one request may make the request
 * layer hold: decoded fields, bytes of decoded entries and file parts
 * (temporary files), and the work that a multipart body's first delimiter
 * may cost. A request that passes one fails to decode like a body
 * that cannot be read: exit status 255, no output, every temporary file
 * deleted. The defaults lie far above any form of the device; a build
 * chooses others with the CMake cache variables ZEL_CGI_MAX_FIELDS,
 * ZEL_CGI_MAX_ENTRY_BYTES and ZEL_CGI_MAX_FILE_PARTS. */
#ifndef CGI_REQUEST_LIMITS_H
#define CGI_REQUEST_LIMITS_H

/** Form entries of one request (URL-encoded fields and multipart parts). */
#ifndef CGI_MAX_FIELDS
#define CGI_MAX_FIELDS 4096
#endif

/** Bytes of all entries of one request: each entry's record and its five
 * texts with their terminators, as allocated. */
#ifndef CGI_MAX_ENTRY_BYTES
#define CGI_MAX_ENTRY_BYTES (1024L * 1024L)
#endif

/** Multipart file parts of one request, each holding a temporary file. */
#ifndef CGI_MAX_FILE_PARTS
#define CGI_MAX_FILE_PARTS 64
#endif

/** Characters of a multipart boundary: 70 at most for any well-formed body.
 * The search for the first delimiter re-reads every failed partial match, so
 * its cost grows with the boundary's length; this bound keeps it linear. */
#ifndef CGI_MAX_BOUNDARY
#define CGI_MAX_BOUNDARY 70
#endif

/** Bytes that may come before a multipart body's first delimiter (the
 * preamble). Browsers send none; the bound keeps the costly search for that
 * delimiter short. */
#ifndef CGI_MAX_PREAMBLE
#define CGI_MAX_PREAMBLE (64L * 1024L)
#endif

#endif
