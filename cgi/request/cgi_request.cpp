// cgi_request.cpp - request core services: the request variables, the entry
// list and its search, the line-break copy rule, case-insensitive comparison,
// the trace file, temporary files, and the clean-up at the end of the request.
#include "cgi_request_internal.h"

#include <cassert>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// All globals are constant-initialised: nothing runs before main.
char cgiEmptyString[1] = "";
char* cgiServerSoftware = cgiEmptyString;
char* cgiServerName = cgiEmptyString;
char* cgiGatewayInterface = cgiEmptyString;
char* cgiServerProtocol = cgiEmptyString;
char* cgiServerPort = cgiEmptyString;
char* cgiRequestMethod = cgiEmptyString;
char* cgiPathInfo = cgiEmptyString;
char* cgiPathTranslated = cgiEmptyString;
char* cgiScriptName = cgiEmptyString;
char* cgiQueryString = cgiEmptyString;
char* cgiRemoteHost = cgiEmptyString;
char* cgiRemoteAddr = cgiEmptyString;
char* cgiAuthType = cgiEmptyString;
char* cgiRemoteUser = cgiEmptyString;
char* cgiRemoteIdent = cgiEmptyString;
char* cgiContentType = cgiEmptyString;
char* cgiAccept = cgiEmptyString;
char* cgiUserAgent = cgiEmptyString;
char* cgiReferrer = cgiEmptyString;
char* cgiCookie = cgiEmptyString;
char cgiContentTypeData[1024];
char* cgiMultipartBoundary = cgiEmptyString;
int cgiContentLength;
int cgiFormFileLength;
FILE* cgiIn;
FILE* cgiOut;

cgiFormEntry* cgiFormEntryFirst;
int cgiRestored;
int cgiHexValue[256];
const char* cgiFindTarget;
cgiFormEntry* cgiFindPos;
unsigned cgiRestoredStrings;

const cgiRequestVariable cgiRequestVariables[kCgiRequestVariableCount] = {
    {&cgiServerSoftware, "SERVER_SOFTWARE"},
    {&cgiServerName, "SERVER_NAME"},
    {&cgiGatewayInterface, "GATEWAY_INTERFACE"},
    {&cgiServerProtocol, "SERVER_PROTOCOL"},
    {&cgiServerPort, "SERVER_PORT"},
    {&cgiRequestMethod, "REQUEST_METHOD"},
    {&cgiPathInfo, "PATH_INFO"},
    {&cgiPathTranslated, "PATH_TRANSLATED"},
    {&cgiScriptName, "SCRIPT_NAME"},
    {&cgiQueryString, "QUERY_STRING"},
    {&cgiRemoteHost, "REMOTE_HOST"},
    {&cgiRemoteAddr, "REMOTE_ADDR"},
    {&cgiAuthType, "AUTH_TYPE"},
    {&cgiRemoteUser, "REMOTE_USER"},
    {&cgiRemoteIdent, "REMOTE_IDENT"},
    {&cgiContentType, "CONTENT_TYPE"},
    {&cgiAccept, "HTTP_ACCEPT"},
    {&cgiUserAgent, "HTTP_USER_AGENT"},
    {&cgiReferrer, "HTTP_REFERER"},
    {&cgiCookie, "HTTP_COOKIE"},
};

namespace {

// Last entry of the list, so that appending does not walk it (a body of many
// tiny fields would otherwise cost quadratic time).
cgiFormEntry* cgiFormEntryLast;

// What the entries admitted since the list was last emptied hold, against
// the request's limits.
size_t cgiEntryCount;
size_t cgiEntryBytes;
size_t cgiFilePartCount;

unsigned char lowerAscii(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? c | 0x20 : c;
}

// One position of the case-insensitive comparisons: letters of s1 compare
// case-folded, every other byte must be identical.
bool sameCharNc(unsigned char c1, unsigned char c2)
{
    return cgiIsLetter(c1) ? lowerAscii(c1) == lowerAscii(c2) : c1 == c2;
}

// Writes the run of cr CRs and lf LFs: max(cr, lf) LFs when newlines is set.
// Returns false when result filled up first.
bool flushLineBreaks(int cr, int lf, int newlines, char* result, int limit, int* len)
{
    if (!newlines)
        return true;
    for (int n = cr > lf ? cr : lf; n > 0; n--) {
        if (*len == limit)
            return false;
        result[(*len)++] = '\n';
    }
    return true;
}

// Writes all n bytes at p to fd; a failed write drops the rest.
void writeAll(int fd, const char* p, size_t n)
{
    while (n > 0) {
        ssize_t k = write(fd, p, n);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            return;
        p += k;
        n -= static_cast<size_t>(k);
    }
}

// Formats into a stack buffer, or a heap one for a longer text (a trace may
// quote a field value); nothing is written when that cannot be had.
void writeFormatted(int fd, const char* format, va_list ap)
{
    char small[1024];
    va_list again;
    va_copy(again, ap);
    int n = vsnprintf(small, sizeof small, format, ap);
    if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
        writeAll(fd, small, static_cast<size_t>(n));
    } else if (n > 0) {
        char* big = static_cast<char*>(malloc(static_cast<size_t>(n) + 1));
        if (big) {
            vsnprintf(big, static_cast<size_t>(n) + 1, format, again);
            writeAll(fd, big, static_cast<size_t>(n));
            free(big);
        }
    }
    va_end(again);
}

}  // namespace

int cgiStrEqNc(const char* s1, const char* s2) noexcept
{
    for (;; s1++, s2++) {
        if (!sameCharNc(*s1, *s2))
            return 0;
        if (!*s1)
            return 1;
    }
}

int cgiStrBeginsNc(const char* s1, const char* s2) noexcept
{
    for (; *s2; s1++, s2++)
        if (!sameCharNc(*s1, *s2))
            return 0;
    return 1;
}

void cgiSplitContentType(void)
{
    cgiContentType = cgiContentTypeData;
    cgiMultipartBoundary = cgiEmptyString;
    for (char* p = strchr(cgiContentTypeData, ';'); p; p = strchr(p, ';')) {
        *p++ = '\0';
        while (cgiIsSpace(*p))
            p++;
        if (cgiStrBeginsNc(p, "boundary=")) {
            cgiMultipartBoundary = p + 9;
            char* q = cgiMultipartBoundary;
            while (*q && !cgiIsSpace(*q))
                q++;
            *q = '\0';
            break;
        }
    }
}

void cgiGetenv(char** s, const char* var)
{
    char* v = getenv(var);
    *s = v ? v : cgiEmptyString;
}

void cgiSetupConstants(void)
{
    for (int& v : cgiHexValue)
        v = 0;
    for (int i = 0; i < 10; i++)
        cgiHexValue['0' + i] = i;
    for (int i = 0; i < 6; i++)
        cgiHexValue['A' + i] = cgiHexValue['a' + i] = 10 + i;
}

void cgiTrace(const char* format, ...)
{
    // Neither a symbolic link (the program may run as root) nor a FIFO or
    // device (which could block or swallow the request) is ever written.
    int fd = open(kCgiTraceFile,
                  O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        va_list ap;
        va_start(ap, format);
        writeFormatted(fd, format, ap);
        va_end(ap);
    }
    close(fd);
}

int cgiAtoi(const char* s)
{
    long v = strtol(s, nullptr, 10);
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return static_cast<int>(v);
}

char* cgiStrDup(const char* s)
{
    size_t n = strlen(s) + 1;
    char* copy = static_cast<char*>(malloc(n));
    if (copy)
        memcpy(copy, s, n);
    return copy;
}

size_t cgiEntrySize(const size_t (&space)[kCgiEntryTexts])
{
    size_t n = sizeof(cgiFormEntry);
    for (size_t k : space)
        n += k;
    return n;
}

cgiFormEntry* cgiAllocEntry(const size_t (&space)[kCgiEntryTexts])
{
    cgiFormEntry* e = static_cast<cgiFormEntry*>(malloc(cgiEntrySize(space)));
    if (!e)
        return nullptr;
    char* text = reinterpret_cast<char*>(e + 1);
    char** texts[kCgiEntryTexts] = {&e->attr, &e->value, &e->fileName, &e->contentType,
                                    &e->tfileName};
    for (int i = 0; i < kCgiEntryTexts; i++) {
        *texts[i] = text;
        *text = '\0';
        text += space[i];
    }
    e->valueLength = 0;
    e->next = nullptr;
    return e;
}

cgiFormEntry* cgiNewEntry(const char* attr, const char* value, int valueLength,
                          const char* fileName, const char* contentType, const char* tfileName)
{
    const char* src[kCgiEntryTexts] = {attr, value, fileName, contentType, tfileName};
    size_t space[kCgiEntryTexts];
    for (int i = 0; i < kCgiEntryTexts; i++)
        space[i] = strlen(src[i]) + 1;
    cgiFormEntry* e = cgiAllocEntry(space);
    if (!e)
        return nullptr;
    char* dst[kCgiEntryTexts] = {e->attr, e->value, e->fileName, e->contentType, e->tfileName};
    for (int i = 0; i < kCgiEntryTexts; i++)
        memcpy(dst[i], src[i], space[i]);
    e->valueLength = valueLength;
    return e;
}

bool cgiAdmitEntry(size_t bytes, bool file)
{
    if (cgiEntryCount >= kCgiMaxFields || bytes > kCgiMaxEntryBytes - cgiEntryBytes ||
        (file && cgiFilePartCount >= kCgiMaxFileParts))
        return false;
    cgiEntryCount++;
    cgiEntryBytes += bytes;
    cgiFilePartCount += file;
    return true;
}

void cgiAppendEntry(cgiFormEntry* e)
{
    assert(e && !e->next);
    if (cgiFormEntryFirst)
        cgiFormEntryLast->next = e;
    else
        cgiFormEntryFirst = e;
    cgiFormEntryLast = e;
}

void cgiFreeEntry(cgiFormEntry* e)
{
    if (*e->tfileName)
        unlink(e->tfileName);
    free(e);  // the texts share the entry's allocation
}

void cgiFreeEntries(void)
{
    while (cgiFormEntry* e = cgiFormEntryFirst) {
        cgiFormEntryFirst = e->next;
        cgiFreeEntry(e);
    }
    cgiFormEntryLast = nullptr;
    cgiFindPos = nullptr;
    cgiEntryCount = cgiFilePartCount = 0;
    cgiEntryBytes = 0;
}

void cgiFreeResources(void)
{
    cgiFreeEntries();
    for (int i = 0; i < kCgiRequestVariableCount; i++) {
        if (!(cgiRestoredStrings & (1u << i)))
            continue;
        free(*cgiRequestVariables[i].var);
        *cgiRequestVariables[i].var = cgiEmptyString;
    }
    cgiRestoredStrings = 0;
    cgiRestored = 0;
}

cgiFormEntry* cgiFormEntryFindFirst(const char* name)
{
    cgiFindTarget = name;
    cgiFindPos = cgiFormEntryFirst;
    return cgiFormEntryFindNext();
}

cgiFormEntry* cgiFormEntryFindNext(void)
{
    while (cgiFormEntry* e = cgiFindPos) {
        cgiFindPos = e->next;
        if (strcmp(e->attr, cgiFindTarget) == 0)
            return e;
    }
    return nullptr;
}

cgiFormResultType cgiFormEntryString(cgiFormEntry* e, char* result, int max, int newlines)
{
    assert(max >= 1);
    const int limit = max - 1;
    int len = 0, cr = 0, lf = 0;
    bool truncated = false;
    for (const char* p = e->value; *p && !truncated; p++) {
        if (*p == '\r') {
            cr++;
        } else if (*p == '\n') {
            lf++;
        } else {
            truncated = !flushLineBreaks(cr, lf, newlines, result, limit, &len) || len == limit;
            cr = lf = 0;
            if (!truncated)
                result[len++] = *p;
        }
    }
    if (!truncated)
        truncated = !flushLineBreaks(cr, lf, newlines, result, limit, &len);
    result[len] = '\0';
    if (truncated)
        return cgiFormTruncated;
    return len == 0 ? cgiFormEmpty : cgiFormSuccess;
}

cgiFormResultType cgiFormStringCopy(const char* name, char* result, int max, int newlines)
{
    cgiFormEntry* e = cgiFormEntryFindFirst(name);
    if (!e) {
        result[0] = '\0';
        return cgiFormNotFound;
    }
    return cgiFormEntryString(e, result, max, newlines);
}

cgiFormResultType cgiFormString(const char* name, char* result, int max) noexcept
{
    return cgiFormStringCopy(name, result, max, 1);
}

void cgiHeaderContentType(const char* mimeType) noexcept
{
    fprintf(cgiOut, "Content-type: %s\r\n\r\n", mimeType);
}

cgiParseResultType getTempFileName(char* tfileName)
{
    memcpy(tfileName, kCgiTempTemplate, sizeof kCgiTempTemplate);
    int fd = mkstemp(tfileName);
    if (fd < 0)
        return cgiParseIO;
    close(fd);
    if (chmod(tfileName, 0600) != 0) {
        unlink(tfileName);
        return cgiParseIO;
    }
    return cgiParseSuccess;
}
