// cgi_request_urlencoded.cpp - URL-encoded form data: reading the POST body
// with memory bounded by what actually arrives, splitting it into fields and
// percent-decoding names and values.
#include "cgi_request_internal.h"

#include <cstdlib>
#include <cstring>

namespace {

// First allocation of cgiReadExact; it doubles from there as bytes arrive.
constexpr size_t kReadExactFirstChunk = 64 * 1024;

}  // namespace

cgiReadExactResult cgiReadExact(FILE* in, size_t n, char** out)
{
    size_t room = n < kReadExactFirstChunk ? n : kReadExactFirstChunk;
    char* buf = static_cast<char*>(malloc(room + 1));
    if (!buf)
        return cgiReadExactMemory;
    size_t got = 0;
    while (got < n) {
        if (got == room) {
            room = (n - room < room) ? n : 2 * room;
            char* grown = static_cast<char*>(realloc(buf, room + 1));
            if (!grown) {
                free(buf);
                return cgiReadExactMemory;
            }
            buf = grown;
        }
        size_t k = fread(buf + got, 1, room - got, in);
        if (k == 0) {
            free(buf);
            return cgiReadExactShort;
        }
        got += k;
    }
    buf[n] = '\0';
    *out = buf;
    return cgiReadExactOk;
}

cgiParseResultType cgiParsePostFormInput(void)
{
    if (cgiContentLength == 0)
        return cgiParseSuccess;
    if (cgiContentLength < 0)
        return cgiParseMemory;
    char* body = nullptr;
    switch (cgiReadExact(cgiIn, static_cast<size_t>(cgiContentLength), &body)) {
        case cgiReadExactMemory:
            return cgiParseMemory;
        case cgiReadExactShort:
            return cgiParseIO;
        case cgiReadExactOk:
            break;
    }
    cgiParseResultType r = cgiParseFormInput(body, cgiContentLength);
    free(body);
    return r;
}

cgiParseResultType cgiParseGetFormInput(void)
{
    return cgiParseFormInput(cgiQueryString, cgiContentLength);
}

cgiParseResultType cgiParseFormInput(const char* data, int length)
{
    const char* const end = data + (length > 0 ? length : 0);
    for (const char* pos = data; pos < end;) {
        const char* eq = static_cast<const char*>(memchr(pos, '=', end - pos));
        if (!eq)
            return cgiParseSuccess;  // a trailing name without '=' is ignored
        const char* valueStart = eq + 1;
        const char* amp = static_cast<const char*>(memchr(valueStart, '&', end - valueStart));
        const char* valueEnd = amp ? amp : end;
        const size_t nameLen = static_cast<size_t>(eq - pos);
        const size_t valueLen = static_cast<size_t>(valueEnd - valueStart);
        // Decoding never lengthens a text, so the raw lengths give the room.
        const size_t space[kCgiEntryTexts] = {nameLen + 1, valueLen + 1, 1, 1, 1};
        if (!cgiAdmitEntry(cgiEntrySize(space), false))
            return cgiParseMemory;
        cgiFormEntry* e = cgiAllocEntry(space);
        if (!e)
            return cgiParseMemory;
        cgiUnescapeInto(e->attr, pos, nameLen);
        cgiUnescapeInto(e->value, valueStart, valueLen);
        e->valueLength = static_cast<int>(strlen(e->value));
        cgiAppendEntry(e);
        if (!amp)
            break;
        pos = amp + 1;
    }
    return cgiParseSuccess;
}

void cgiUnescapeInto(char* out, const char* cp, size_t len)
{
    cgiEscapeState state = cgiEscapeRest;
    int high = 0;
    for (size_t i = 0; i < len; i++) {
        unsigned char c = static_cast<unsigned char>(cp[i]);
        switch (state) {
            case cgiEscapeRest:
                if (c == '%')
                    state = cgiEscapeFirst;
                else
                    *out++ = c == '+' ? ' ' : static_cast<char>(c);
                break;
            case cgiEscapeFirst:
                high = cgiHexValue[c] * 16;
                state = cgiEscapeSecond;
                break;
            case cgiEscapeSecond:
                // Kept: bytes that are no hexadecimal digit count as 0, so
                // "%zz" gives a NUL byte, as existing clients expect.
                *out++ = static_cast<char>(high + cgiHexValue[c]);
                state = cgiEscapeRest;
                break;
        }
    }
    *out = '\0';  // an escape cut off by the end of the text writes nothing
}
