// cgi_request.cpp - request core services: the request variables, the entry
// list and its search, the line-break copy rule, case-insensitive comparison,
// the trace file, temporary files, and the clean-up at the end of the request.
#include "cgi_request_internal.h"

#include <cassert>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
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

}  // namespace

int cgiStrEqNc(const char* s1, const char* s2)
{
    for (;; s1++, s2++) {
        if (!sameCharNc(*s1, *s2))
            return 0;
        if (!*s1)
            return 1;
    }
}

int cgiStrBeginsNc(const char* s1, const char* s2)
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
    FILE* f = fopen(kCgiTraceFile, "a");
    if (!f)
        return;
    va_list ap;
    va_start(ap, format);
    vfprintf(f, format, ap);
    va_end(ap);
    fclose(f);
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

cgiFormEntry* cgiAdoptEntry(char* attr, char* value, int valueLength, char* fileName,
                            char* contentType, char* tfileName)
{
    cgiFormEntry* e = nullptr;
    if (attr && value && fileName && contentType && tfileName)
        e = static_cast<cgiFormEntry*>(calloc(1, sizeof *e));
    if (!e) {
        free(attr);
        free(value);
        free(fileName);
        free(contentType);
        free(tfileName);
        return nullptr;
    }
    e->attr = attr;
    e->value = value;
    e->valueLength = valueLength;
    e->fileName = fileName;
    e->contentType = contentType;
    e->tfileName = tfileName;
    return e;
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
    free(e->attr);
    free(e->value);
    free(e->fileName);
    free(e->contentType);
    if (e->tfileName && *e->tfileName)
        unlink(e->tfileName);
    free(e->tfileName);
    free(e);
}

void cgiFreeEntries(void)
{
    while (cgiFormEntry* e = cgiFormEntryFirst) {
        cgiFormEntryFirst = e->next;
        cgiFreeEntry(e);
    }
    cgiFormEntryLast = nullptr;
    cgiFindPos = nullptr;
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

cgiFormResultType cgiFormString(const char* name, char* result, int max)
{
    return cgiFormStringCopy(name, result, max, 1);
}

void cgiHeaderContentType(const char* mimeType)
{
    fprintf(cgiOut, "Content-type: %s\r\n\r\n", mimeType);
}

cgiParseResultType getTempFileName(char* tfileName)
{
    static const char kTemplate[] = "/tmp/cgiXXXXXX";
    memcpy(tfileName, kTemplate, sizeof kTemplate);
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
