// cgi_request_cookie.cpp - the request's cookies (look-up by name, list of
// names), the response headers other than the content type, and the HTML and
// attribute-value escapers.
#include "cgi_request_internal.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* kDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Replacement text of byte c for an escaper, or NULL to write c unchanged.
using Replacement = const char* (*)(unsigned char c);

const char* htmlReplacement(unsigned char c)
{
    switch (c) {
        case '<':
            return "&lt;";
        case '&':
            return "&amp;";
        case '>':
            return "&gt;";
        default:
            return nullptr;
    }
}

const char* valueReplacement(unsigned char c)
{
    return c == '"' ? "&#34;" : nullptr;
}

// Writes len bytes to cgiOut one at a time with the given replacements;
// cgiFormIO at the first failed write.
cgiFormResultType escapeData(const char* data, int len, Replacement replace)
{
    for (int i = 0; i < len; i++) {
        unsigned char c = static_cast<unsigned char>(data[i]);
        const char* r = replace(c);
        if (r ? fputs(r, cgiOut) == EOF : putc(c, cgiOut) == EOF)
            return cgiFormIO;
    }
    return cgiFormSuccess;
}

int textLength(const char* s)
{
    return static_cast<int>(strnlen(s, 0x7fffffff));
}

}  // namespace

cgiFormResultType cgiCookieString(const char* name, char* value, int space) noexcept
{
    for (const char* p = cgiCookie; *p;) {
        const char* n = name;
        while (*n && *p == *n)
            n++, p++;
        if (!*n && *p == '=') {
            int len = 0;
            for (p++; *p && *p != ';' && len < space - 1; p++)
                value[len++] = *p;
            if (space > 0)
                value[len] = '\0';
            return (*p && *p != ';') ? cgiFormTruncated : cgiFormSuccess;
        }
        p = strchr(p, ';');
        if (!p)
            break;
        for (p++; cgiIsSpace(*p); p++) {
        }
    }
    if (space > 0)
        value[0] = '\0';
    return cgiFormNotFound;
}

cgiFormResultType cgiCookieInteger(const char* name, int* result, int defaultV) noexcept
{
    char buf[256];
    cgiFormResultType r = cgiCookieString(name, buf, sizeof buf);
    *result = r == cgiFormSuccess ? cgiAtoi(buf) : defaultV;
    return r;
}

cgiFormResultType cgiCookies(char*** result) noexcept
{
    size_t slots = 2;
    for (const char* p = cgiCookie; (p = strchr(p, '=')); p++)
        slots++;
    char** array = static_cast<char**>(calloc(slots, sizeof(char*)));
    if (!array) {
        *result = nullptr;
        return cgiFormMemory;
    }
    size_t count = 0;
    for (const char* p = cgiCookie;;) {
        while (cgiIsSpace(*p))
            p++;
        const char* end = strchr(p, '=');
        if (!end)
            end = p + strlen(p);
        if (end > p) {
            char* copy = static_cast<char*>(malloc(static_cast<size_t>(end - p) + 1));
            if (!copy) {
                cgiStringArrayFree(array);
                *result = nullptr;
                return cgiFormMemory;
            }
            memcpy(copy, p, static_cast<size_t>(end - p));
            copy[end - p] = '\0';
            array[count++] = copy;
        }
        const char* semi = strchr(end, ';');
        if (!semi)
            break;
        p = semi + 1;
    }
    *result = array;
    return cgiFormSuccess;
}

void cgiWriteSetCookie(time_t expires, const char* name, const char* value, const char* path,
                       const char* domain)
{
    struct tm t;
    gmtime_r(&expires, &t);
    fprintf(
        cgiOut,
        "Set-Cookie: %s=%s; domain=%s; expires=%s, %02d-%s-%04d %02d:%02d:%02d GMT; path=%s\r\n",
        name, value, domain, kDays[t.tm_wday], t.tm_mday, kMonths[t.tm_mon], t.tm_year + 1900,
        t.tm_hour, t.tm_min, t.tm_sec, path);
}

void cgiHeaderCookieSetString(const char* name, const char* value, int secondsToLive,
                              const char* path, const char* domain) noexcept
{
    cgiWriteSetCookie(time(nullptr) + secondsToLive, name, value, path, domain);
}

void cgiHeaderCookieSetInteger(const char* name, int value, int secondsToLive, const char* path,
                               const char* domain) noexcept
{
    char buf[256];
    snprintf(buf, sizeof buf, "%d", value);
    cgiHeaderCookieSetString(name, buf, secondsToLive, path, domain);
}

void cgiHeaderLocation(const char* redirectUrl) noexcept
{
    fprintf(cgiOut, "Location: %s\r\n\r\n", redirectUrl);
}

void cgiHeaderStatus(int status, const char* statusMessage) noexcept
{
    fprintf(cgiOut, "Status: %d %s\r\n\r\n", status, statusMessage);
}

cgiFormResultType cgiHtmlEscapeData(const char* data, int len) noexcept
{
    return escapeData(data, len, htmlReplacement);
}

cgiFormResultType cgiHtmlEscape(const char* s) noexcept
{
    return cgiHtmlEscapeData(s, textLength(s));
}

cgiFormResultType cgiValueEscapeData(const char* data, int len) noexcept
{
    return escapeData(data, len, valueReplacement);
}

cgiFormResultType cgiValueEscape(const char* s) noexcept
{
    return cgiValueEscapeData(s, textLength(s));
}
