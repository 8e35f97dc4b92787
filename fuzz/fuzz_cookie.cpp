// fuzz_cookie.cpp - cookie look-up and the list of names on any header.
// Input: the cookie name, a zero byte, then the header.
#include "fuzz_common.h"

#include <cstring>
#include <initializer_list>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 16))
        return 0;
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t cut = input.find('\0');
    if (cut == std::string::npos)
        return 0;
    std::string name = input.substr(0, cut), header = input.substr(cut + 1);
    header = header.substr(0, header.find('\0'));
    cgiCookie = &header[0];
    for (int space : {0, 1, 2, 16, 256}) {
        char value[256];
        memset(value, 'x', sizeof value);
        cgiFormResultType r = cgiCookieString(name.c_str(), value, space);
        FUZZ_CHECK(r == cgiFormSuccess || r == cgiFormTruncated || r == cgiFormNotFound);
        if (space > 0)
            FUZZ_CHECK(strnlen(value, sizeof value) < static_cast<size_t>(space));
    }
    int n = 0;
    cgiCookieInteger(name.c_str(), &n, 7);
    char** names = nullptr;
    FUZZ_CHECK(cgiCookies(&names) == cgiFormSuccess);
    size_t count = 0, equals = 0;
    for (char** p = names; *p; p++)
        count++;
    for (char c : header)
        equals += c == '=';
    FUZZ_CHECK(count <= equals + 1);
    cgiStringArrayFree(names);
    cgiCookie = cgiEmptyString;
    return 0;
}
