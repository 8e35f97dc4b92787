// form_test.cpp - content types, case-insensitive compare and the accessors
// (one table row per call), the Set-Cookie header and the two escapers.
#include "cgi_request_internal.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sstream>
#include <string>

namespace {

// One call "FUNCTION [NAME [SIZE [FLAG]]]" on the URL-encoded input (also the
// cookie header, content type or first text); returns "CODE OUTPUT", texts
// starting as "#", numbers as -7. Numbers default to 99, bounds [0, 10];
// choices a, b, B. Lists: "CODE|TEXT|TEXT...".
std::string call(const std::string& input, const std::string& callText)
{
    cgiFreeResources();
    cgiSetupConstants();
    EXPECT_EQ(cgiParseSuccess, cgiParseFormInput(input.data(), static_cast<int>(input.size())));
    std::string header = input, fn, name;
    cgiCookie = &header[0];
    int size = 64, flag = 0, i = -7, invalid = -7, slots[3] = {-7, -7, -7};
    std::istringstream(callText) >> fn >> name >> size >> flag;
    const char* n = name.c_str();
    char text[64] = "#", a[] = "a", b[] = "b", B[] = "B";
    char* choices[] = {a, b, B};
    char** array = nullptr;
    double d = -7;
    auto fmt = [](int code, const auto& output) {
        std::ostringstream s;
        s << code << " " << output;
        return s.str();
    };
    auto list = [&](int code) {
        std::string s = std::to_string(code);
        for (char** p = array; p && *p; p++)
            s += std::string("|") + *p;
        cgiStringArrayFree(array);
        return s;
    };
    auto hits = [&](int code) {
        return fmt(code, std::to_string(slots[0]) + std::to_string(slots[1]) +
                             std::to_string(slots[2]) + "/" + std::to_string(invalid));
    };
    const std::map<std::string, std::function<std::string()>> calls = {
        {"split",
         [&] {
             snprintf(cgiContentTypeData, sizeof cgiContentTypeData, "%s", input.c_str());
             cgiSplitContentType();
             return std::string(cgiContentType) + "|" + cgiMultipartBoundary;
         }},
        {"eq", [&] { return std::to_string(cgiStrEqNc(input.c_str(), n)); }},
        {"copy",
         [&] { return fmt(cgiFormEntryString(cgiFormEntryFirst, text, size, flag), text); }},
        {"string", [&] { return fmt(cgiFormString(n, text, size), text); }},
        {"nonl", [&] { return fmt(cgiFormStringNoNewlines(n, text, size), text); }},
        {"space", [&] { return fmt(cgiFormStringSpaceNeeded(n, &i), i); }},
        {"multiple", [&] { return list(cgiFormStringMultiple(n, &array)); }},
        {"entries", [&] { return list(cgiFormEntries(&array)); }},
        {"int", [&] { return fmt(cgiFormInteger(n, &i, 99), i); }},
        {"intB", [&] { return fmt(cgiFormIntegerBounded(n, &i, 0, 10, 99), i); }},
        {"double", [&] { return fmt(cgiFormDouble(n, &d, 99), d); }},
        {"doubleB", [&] { return fmt(cgiFormDoubleBounded(n, &d, 0, 10, 99), d); }},
        {"single", [&] { return fmt(cgiFormSelectSingle(n, choices, 3, &i, 99), i); }},
        {"radio", [&] { return fmt(cgiFormRadio(n, choices, 3, &i, 99), i); }},
        {"multi", [&] { return hits(cgiFormSelectMultiple(n, choices, 3, slots, &invalid)); }},
        {"boxes", [&] { return hits(cgiFormCheckboxMultiple(n, choices, 3, slots, &invalid)); }},
        {"box", [&] { return std::to_string(cgiFormCheckboxSingle(n)); }},
        {"cookie", [&] { return fmt(cgiCookieString(n, text, size), text); }},
        {"cookieInt", [&] { return fmt(cgiCookieInteger(n, &i, 99), i); }},
        {"cookies", [&] { return list(cgiCookies(&array)); }},
    };
    return calls.at(fn)();
}

struct Row {
    const char *input, *callText, *expected;
};

// Result codes: 0 Success, 1 Truncated, 2 BadType, 3 Empty, 4 NotFound,
// 5 Constrained, 6 NoSuchChoice.
TEST(Form, OneCallPerRow)
{
    const std::string jar = "n=42; s=abc; long=" + std::string(300, '7') + "; sp =1; flag; b=2";
    const char* j = jar.c_str();
    const Row rows[] = {
        // Content types and the case-insensitive compare of letters.
        {"Multipart/Form-Data; BOUNDARY=q", "split", "Multipart/Form-Data|q"},
        {"multipart/form-data; boundary=abc; charset=x", "split", "multipart/form-data|abc;"},
        {"multipart/form-data; charset=x;\t boundary=\"q r\"", "split", "multipart/form-data|\"q"},
        {"[", "eq {", "0"},
        // Line breaks: each CR/LF run becomes max(#CR, #LF) LFs, or nothing; then
        // the other text and list accessors.
        {"v=a%0D%0Ab", "copy v 10 1", "0 a\nb"},
        {"v=a%0Ab%0Dc", "copy v 10 1", "0 a\nb\nc"},
        {"v=a%0D%0D%0Ab", "copy v 10 1", "0 a\n\nb"},
        {"v=a%0D%0A%0D%0Ab", "copy v 10 0", "0 ab"},
        {"v=%0D%0A", "copy v 10 0", "3 "},
        {"v=abcdefghijklmnop", "copy v 12 1", "1 abcdefghijk"},
        {"v=abcdefghijk", "copy v 12 1", "0 abcdefghijk"},
        {"v=abcdefghij%0A", "copy v 12 1", "0 abcdefghij\n"},
        {"v=abcdefghij%0D%0D", "copy v 12 1", "1 abcdefghij\n"},
        {"b=x%0D%0Ay&b=2", "nonl b", "0 xy"},
        {"b=x%0D%0Ay&b=2", "string b", "0 x\ny"},
        {"b=x%0D%0Ay&b=2", "space b", "0 5"},
        {"b=x%0D%0Ay&a=1&B=3&b=2", "multiple b", "0|x\ny|2"},
        {"b=x%0D%0Ay&a=1&B=3&b=2", "entries", "0|b|a|B"},
        // Numbers and choices.
        {"n=12abc", "int n", "0 12"},
        {"n=+++", "int n", "2 99"},
        {"n=-", "int n", "0 0"},
        {"n=", "int n", "3 99"},
        {"n=.5", "int n", "2 99"},
        {"n=%0A+%2B7", "int n", "0 7"},
        {"n=99999999999", "int n", "0 2147483647"},
        {"n=1e3x", "double n", "0 1000"},
        {"n=.5", "double n", "0 0.5"},
        {"n=abc", "double n", "2 99"},
        {"n=12", "intB n", "5 10"},
        {"n=12", "doubleB n", "5 10"},
        {"n=-3", "intB n", "5 0"},
        {"n=10", "intB n", "0 10"},
        {"n=0", "intB n", "0 0"},
        {"n=-nan", "doubleB n", "0 -nan"},
        {"c=b&c=a", "single c", "0 1"},
        {"c=B", "radio c", "0 2"},
        {"c=A", "single c", "6 99"},
        {"c=b&c=b&c=zz&c=a", "multi c", "0 110/1"},
        {"c=b&c=b&c=zz&c=a", "boxes c", "0 110/1"},
        {"c=x&c=A", "multi c", "4 000/2"},
        {"c=B&t=a", "boxes c", "0 001/0"},
        {"box=", "box box", "0"},
        {"box=", "box Box", "4"},
        // Cookies: the input is the cookie header.
        {"a=1; ab=2", "cookie ab", "0 2"},
        {"a=1; ab=2", "cookie a", "0 1"},
        {"x=ab=1", "cookie ab", "4 "},
        {"a =1", "cookie a", "4 "},
        {"flag; b=2", "cookie b", "0 2"},
        {"a=xyz", "cookie a 0", "1 #"},
        {"a=xyz", "cookie a 3", "1 xy"},
        {"a=1; a=2", "cookie a", "0 1"},
        {"a=1;\t b=%22q%22", "cookie b", "0 %22q%22"},
        {"a=h w ;b=1", "cookie a", "0 h w "},
        {j, "cookieInt n", "0 42"},
        {j, "cookieInt s", "0 0"},
        {j, "cookieInt long", "1 99"},
        {j, "cookieInt zz", "4 99"},
        {j, "cookies", "0|n|s|long|sp |flag; b"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(r.expected, call(r.input, r.callText)) << r.input << " / " << r.callText;
    cgiCookie = cgiEmptyString;
}

// Runs f with cgiOut going to memory; returns what was written.
template <typename F>
std::string captureOut(F f)
{
    char* buf = nullptr;
    size_t len = 0;
    FILE *mem = open_memstream(&buf, &len), *saved = cgiOut;
    cgiOut = mem;
    f();
    fclose(mem);
    cgiOut = saved;
    std::string s(buf, len);
    free(buf);
    return s;
}

TEST(Output, CookieHeaderAndEscapes)
{
    setenv("TZ", "EST5", 1);  // expiry dates are in GMT whatever the local zone
    tzset();
    const time_t newYear2026 = 1767225600;  // 2026-01-01 00:00:00 UTC
    EXPECT_EQ("Set-Cookie: a b=c;d; domain=e.f; expires=Wed, 31-Dec-2025 23:59:59 GMT; path=\r\n",
              captureOut([&] { cgiWriteSetCookie(newYear2026 - 1, "a b", "c;d", "", "e.f"); }));
    // The expiry is the current time plus the lifetime: one of the seconds
    // that the clock showed during the call.
    const time_t before = time(nullptr);
    const std::string line =
        captureOut([] { cgiHeaderCookieSetInteger("n", -5, 86400, "/p", "d"); });
    bool matched = false;
    for (time_t now = before; now <= time(nullptr) && !matched; ++now)
        matched =
            line == captureOut([now] { cgiWriteSetCookie(now + 86400, "n", "-5", "/p", "d"); });
    EXPECT_TRUE(matched) << line;

    const std::string data("a\"<&>'b\0<", 9);
    EXPECT_EQ(std::string("a\"&lt;&amp;&gt;'b\0&lt;a&#34;<&>'b\0<", 35), captureOut([&] {
                  EXPECT_EQ(cgiFormSuccess, cgiHtmlEscapeData(data.data(), 9));
                  EXPECT_EQ(cgiFormSuccess, cgiValueEscapeData(data.data(), 9));
              }));
    FILE* saved = cgiOut;
    cgiOut = fopen("/dev/null", "r");  // every write fails
    EXPECT_EQ(cgiFormIO, cgiHtmlEscapeData(data.data(), 9));
    EXPECT_EQ(cgiFormIO, cgiValueEscapeData(data.data(), 9));
    fclose(cgiOut);
    cgiOut = saved;
}

}  // namespace
