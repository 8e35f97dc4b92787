// no_upload.cpp - the upload hook of the pages that take no upload: any
// multipart body ends the request before the handler runs.
#include "cgi_request.h"

int cgiOnRecvFormFile(char*, int, int)
{
    return -1;
}
