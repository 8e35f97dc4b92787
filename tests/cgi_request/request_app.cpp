// request_app.cpp - a CGI application for the process tests: its hooks record
// what the request layer hands them and cgiMain prints it all as text.
// Environment knobs: APP_INIT (cgiOnInit result), APP_REFUSE (1-based hook
// call that returns -1), APP_STATUS (cgiMain result).
#include "cgi_request_internal.h"

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

constexpr int kMaxLogged = 64;  // hook calls listed one per line; the rest are counted

struct Chunk {
    int len, end, fileLength;
};
Chunk g_chunks[kMaxLogged];
int g_calls;
long long g_bytes;
uint32_t g_hash = 2166136261u;  // FNV-1a of every byte delivered

int envInt(const char* name, int fallback)
{
    const char* v = getenv(name);
    return v ? atoi(v) : fallback;
}

}  // namespace

int cgiOnInit(void)
{
    return envInt("APP_INIT", 1);
}

int cgiOnRecvFormFile(char* pbuffer, int len, int end)
{
    if (g_calls < kMaxLogged)
        g_chunks[g_calls] = {len, end, cgiFormFileLength};
    g_calls++;
    g_bytes += len;
    for (int i = 0; i < len; i++)
        g_hash = (g_hash ^ static_cast<unsigned char>(pbuffer[i])) * 16777619u;
    return g_calls == envInt("APP_REFUSE", 0) ? -1 : 0;
}

int cgiMain(void)
{
    cgiHeaderContentType("text/plain");
    fprintf(cgiOut, "method=%s type=%s boundary=%s length=%d user=%s\n", cgiRequestMethod,
            cgiContentType, cgiMultipartBoundary, cgiContentLength, cgiRemoteUser);
    fprintf(cgiOut, "calls=%d bytes=%lld fnv=%08x\n", g_calls, g_bytes, g_hash);
    for (int i = 0; i < g_calls && i < kMaxLogged; i++)
        fprintf(cgiOut, "chunk %d %d %d\n", g_chunks[i].len, g_chunks[i].end,
                g_chunks[i].fileLength);
    for (cgiFormEntry* e = cgiFormEntryFirst; e; e = e->next) {
        bool exists = e->tfileName[0] && access(e->tfileName, F_OK) == 0;
        fprintf(cgiOut, "entry [%s] [%s] %d [%s] [%s] tfile=%d %s\n", e->attr, e->value,
                e->valueLength, e->fileName, e->contentType, exists, e->tfileName);
    }
    return envInt("APP_STATUS", 0);
}
