// request_app.cpp - prints the request, each hook call and each entry (T: its
// temporary file exists). Knobs: APP_INIT (cgiOnInit result), APP_REFUSE (hook
// call that returns -1), APP_STATUS (cgiMain result), APP_NOFILE (no free
// descriptor after cgiOnInit).
#include "cgi_request_internal.h"

#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

std::string g_chunks;  // a line per hook call
int g_calls;
rlimit g_saved;  // the descriptor limit before APP_NOFILE lowered it

int envInt(const char* name, int fallback)
{
    const char* v = getenv(name);
    return v ? atoi(v) : fallback;
}

}  // namespace

int cgiOnInit(void)
{
    if (getenv("APP_NOFILE")) {
        getrlimit(RLIMIT_NOFILE, &g_saved);
        rlimit l = g_saved;
        l.rlim_cur = static_cast<rlim_t>(dup(0));  // the lowest free descriptor
        close(static_cast<int>(l.rlim_cur));
        setrlimit(RLIMIT_NOFILE, &l);
        atexit(
            [] { setrlimit(RLIMIT_NOFILE, &g_saved); });  // the sanitizers' exit checks open files
    }
    return envInt("APP_INIT", 1);
}

int cgiOnRecvFormFile(char*, int len, int end)
{
    g_chunks += "chunk " + std::to_string(len) + " " + std::to_string(end) + " " +
                std::to_string(cgiFormFileLength) + "\n";
    return ++g_calls == envInt("APP_REFUSE", 0) ? -1 : 0;
}

int cgiMain(void)
{
    cgiHeaderContentType("text/plain");
    fprintf(cgiOut, "method=%s type=%s boundary=%s length=%d user=%s\ncalls=%d\n%s",
            cgiRequestMethod, cgiContentType, cgiMultipartBoundary, cgiContentLength, cgiRemoteUser,
            g_calls, g_chunks.c_str());
    for (cgiFormEntry* e = cgiFormEntryFirst; e; e = e->next)
        fprintf(cgiOut, "entry [%s] [%s] %d [%s] [%s] %s\n", e->attr, e->value, e->valueLength,
                e->fileName, e->contentType,
                !e->tfileName[0]                  ? "-"
                : access(e->tfileName, F_OK) == 0 ? "T"
                                                  : "gone");
    return envInt("APP_STATUS", 0);
}
