// cgi_dummy.cpp - the viewer's request-layer hooks: it needs no start-up
// work beyond a response buffer and takes no uploads.
#include <cstdio>

#include "cgi_request.h"

// Always 1: the request goes on. Gives the response one buffer big enough
// for a whole page, so it leaves the process in a single write.
int cgiOnInit(void)
{
    static char responseBuffer[64 * 1024];
    std::setvbuf(cgiOut, responseBuffer, _IOFBF, sizeof responseBuffer);
    return 1;
}

// Always 0: the bodies of multipart parts are discarded and decoding goes on.
int cgiOnRecvFormFile(char* pbuffer, int len, int end)
{
    (void)pbuffer;
    (void)len;
    (void)end;
    return 0;
}
