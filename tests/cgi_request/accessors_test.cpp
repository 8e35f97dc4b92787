// accessors_test.cpp - typed form accessors (text, lists, numbers, choices,
// uploads), cookies, response headers and the two escapers.
#include "child_process.h"
#include "test_support.h"

#include <cmath>
#include <climits>
#include <unistd.h>

namespace {

TEST(Accessors, Integers)
{
    const struct {
        const char* query;
        int value;
        cgiFormResultType code;
    } cases[] = {
        {"n=12abc", 12, cgiFormSuccess},   {"n=+++", 99, cgiFormBadType},
        {"n=-", 0, cgiFormSuccess},        {"n=", 99, cgiFormEmpty},
        {"m=1", 99, cgiFormNotFound},      {"n=.5", 99, cgiFormBadType},
        {"n=%0A+%2B7", 7, cgiFormSuccess}, {"n=99999999999", INT_MAX, cgiFormSuccess},
    };
    for (const auto& c : cases) {
        loadQuery(c.query);
        int v = -7;
        EXPECT_EQ(c.code, cgiFormInteger("n", &v, 99)) << c.query;
        EXPECT_EQ(c.value, v) << c.query;
    }
}

TEST(Accessors, BoundedNumbers)
{
    const struct {
        const char* query;
        int value;
        cgiFormResultType code;
    } cases[] = {
        {"n=12", 10, cgiFormConstrained}, {"n=-3", 0, cgiFormConstrained},
        {"n=10", 10, cgiFormSuccess},     {"n=0", 0, cgiFormSuccess},
        {"n=z", 99, cgiFormBadType},
    };
    for (const auto& c : cases) {
        loadQuery(c.query);
        int v = -7;
        EXPECT_EQ(c.code, cgiFormIntegerBounded("n", &v, 0, 10, 99)) << c.query;
        EXPECT_EQ(c.value, v) << c.query;
        double d = -7;
        EXPECT_EQ(c.code, cgiFormDoubleBounded("n", &d, 0, 10, 99)) << c.query;
        EXPECT_EQ(c.value, d) << c.query;
    }
    loadQuery("e=1e3x&f=-nan&g=abc&h=.5");
    double d = 0;
    EXPECT_EQ(cgiFormSuccess, cgiFormDouble("e", &d, 9));
    EXPECT_EQ(1000.0, d);
    EXPECT_EQ(cgiFormSuccess, cgiFormDouble("h", &d, 9));
    EXPECT_EQ(0.5, d);
    EXPECT_EQ(cgiFormSuccess, cgiFormDoubleBounded("f", &d, 0, 1, 9));
    EXPECT_TRUE(std::isnan(d));
    EXPECT_EQ(cgiFormBadType, cgiFormDouble("g", &d, 9));
    EXPECT_EQ(9.0, d);
}

TEST(Accessors, SingleChoices)
{
    char a[] = "a", b[] = "b", B[] = "B";
    char* choices[] = {a, b, B};
    const struct {
        const char* query;
        int value;
        cgiFormResultType code;
    } cases[] = {
        {"c=b&c=a", 1, cgiFormSuccess},
        {"c=B", 2, cgiFormSuccess},
        {"c=A", 9, cgiFormNoSuchChoice},
        {"x=a", 9, cgiFormNotFound},
    };
    for (const auto& c : cases) {
        loadQuery(c.query);
        int v = -1, r = -1;
        EXPECT_EQ(c.code, cgiFormSelectSingle("c", choices, 3, &v, 9)) << c.query;
        EXPECT_EQ(c.value, v) << c.query;
        EXPECT_EQ(c.code, cgiFormRadio("c", choices, 3, &r, 9)) << c.query;
        EXPECT_EQ(c.value, r) << c.query;
    }
    // The trace lists each comparison and the match.
    loadQuery("c=b");
    fclose(fopen(kCgiTraceFile, "w"));
    int v;
    cgiFormSelectSingle("c", choices, 3, &v, 0);
    const std::string trace = testproc::readFile(kCgiTraceFile), tail = "\na b\nb b\nMATCH\n";
    ASSERT_GE(trace.size(), tail.size()) << "trace file not written";
    EXPECT_EQ(tail, trace.substr(trace.size() - tail.size()));
}

TEST(Accessors, MultipleChoices)
{
    char a[] = "a", b[] = "b", c3[] = "c";
    char* choices[] = {a, b, c3};
    const struct {
        const char* query;
        std::vector<int> slots;
        int invalid;
        cgiFormResultType code;
    } cases[] = {
        {"s=b&s=b&s=zz&s=a", {1, 1, 0}, 1, cgiFormSuccess},
        {"s=x&s=y", {0, 0, 0}, 2, cgiFormNotFound},
        {"s=c&t=a", {0, 0, 1}, 0, cgiFormSuccess},
    };
    for (const auto& c : cases) {
        loadQuery(c.query);
        std::vector<int> slots(3, 7);
        int invalid = -1;
        EXPECT_EQ(c.code, cgiFormSelectMultiple("s", choices, 3, slots.data(), &invalid))
            << c.query;
        EXPECT_EQ(c.slots, slots) << c.query;
        EXPECT_EQ(c.invalid, invalid) << c.query;
        EXPECT_EQ(c.code, cgiFormCheckboxMultiple("s", choices, 3, slots.data(), &invalid))
            << c.query;
    }
    loadQuery("box=");
    EXPECT_EQ(cgiFormSuccess, cgiFormCheckboxSingle("box"));
    EXPECT_EQ(cgiFormNotFound, cgiFormCheckboxSingle("Box"));
}

std::vector<std::string> strings(char** array)
{
    std::vector<std::string> v;
    for (char** p = array; p && *p; p++)
        v.push_back(*p);
    return v;
}

TEST(Accessors, TextAndLists)
{
    loadQuery("b=x%0D%0Ay&a=1&b=2&c=%0D%0Aq");
    char** all = nullptr;
    EXPECT_EQ(cgiFormSuccess, cgiFormStringMultiple("b", &all));
    EXPECT_EQ((std::vector<std::string>{"x\ny", "2"}), strings(all));
    cgiStringArrayFree(all);
    EXPECT_EQ(cgiFormSuccess, cgiFormEntries(&all));
    EXPECT_EQ((std::vector<std::string>{"b", "a", "c"}), strings(all));
    cgiStringArrayFree(all);

    char buf[8];
    EXPECT_EQ(cgiFormSuccess, cgiFormStringNoNewlines("b", buf, sizeof buf));
    EXPECT_STREQ("xy", buf);
    EXPECT_EQ(cgiFormSuccess, cgiFormString("c", buf, sizeof buf));
    EXPECT_STREQ("\nq", buf);
    int space = 0;
    EXPECT_EQ(cgiFormSuccess, cgiFormStringSpaceNeeded("b", &space));
    EXPECT_EQ(5, space);
    EXPECT_EQ(cgiFormNotFound, cgiFormStringSpaceNeeded("z", &space));
    EXPECT_EQ(1, space);

    loadQuery("");
    EXPECT_EQ(cgiFormSuccess, cgiFormEntries(&all));
    EXPECT_EQ(nullptr, all[0]);
    cgiStringArrayFree(all);
}

TEST(Accessors, Uploads)
{
    resetRequest();
    const std::string hello = "hello", empty;
    addEntry("u", "v", 1, "", "", nullptr);
    addEntry("f", "", 5, "c:\\x.png", "image/png", &hello);
    addEntry("m", "", 3000, "big.bin", "", &empty);  // a multipart part: body went to the hook

    const struct {
        const char* name;
        int space;
        const char *file, *type;
        cgiFormResultType fileCode, typeCode;
    } cases[] = {
        {"f", 64, "c:\\x.png", "image/png", cgiFormSuccess, cgiFormSuccess},
        {"f", 4, "c:\\", "ima", cgiFormTruncated, cgiFormTruncated},
        {"u", 64, "", "", cgiFormNoFileName, cgiFormNoContentType},
        {"z", 64, "", "", cgiFormNotFound, cgiFormNotFound},
        {"f", 0, "#", "#", cgiFormTruncated, cgiFormTruncated},
    };
    for (const auto& c : cases) {
        char file[64] = "#", type[64] = "#";
        EXPECT_EQ(c.fileCode, cgiFormFileName(c.name, file, c.space)) << c.name << c.space;
        EXPECT_STREQ(c.file, file) << c.name << c.space;
        EXPECT_EQ(c.typeCode, cgiFormFileContentType(c.name, type, c.space)) << c.name << c.space;
        EXPECT_STREQ(c.type, type) << c.name << c.space;
    }

    const struct {
        const char* name;
        int size;
        cgiFormResultType code;
    } sizes[] = {{"f", 5, cgiFormSuccess},
                 {"m", 3000, cgiFormSuccess},
                 {"u", 0, cgiFormNotAFile},
                 {"z", 0, cgiFormNotFound}};
    for (const auto& c : sizes) {
        int size = -1;
        EXPECT_EQ(c.code, cgiFormFileSize(c.name, &size)) << c.name;
        EXPECT_EQ(c.size, size) << c.name;
    }

    cgiFilePtr h = nullptr;
    ASSERT_EQ(cgiFormSuccess, cgiFormFileOpen("f", &h));
    std::vector<std::string> pieces;
    char buf[2];
    int got = -1;
    while (cgiFormFileRead(h, buf, sizeof buf, &got) == cgiFormSuccess)
        pieces.push_back(std::string(buf, got));
    EXPECT_EQ((std::vector<std::string>{"he", "ll", "o"}), pieces);
    EXPECT_EQ(1, got);  // untouched by the final EOF
    EXPECT_EQ(cgiFormSuccess, cgiFormFileClose(h));
    ASSERT_EQ(cgiFormSuccess, cgiFormFileOpen("m", &h));
    EXPECT_EQ(cgiFormEOF, cgiFormFileRead(h, buf, sizeof buf, &got));
    EXPECT_EQ(cgiFormSuccess, cgiFormFileClose(h));

    h = reinterpret_cast<cgiFilePtr>(&h);
    EXPECT_EQ(cgiFormNotAFile, cgiFormFileOpen("u", &h));
    EXPECT_EQ(nullptr, h);
    EXPECT_EQ(cgiFormNotFound, cgiFormFileOpen("z", &h));
    unlink(cgiFormEntryFirst->next->tfileName);
    cgiFilePtr untouched = reinterpret_cast<cgiFilePtr>(&h);
    h = untouched;
    EXPECT_EQ(cgiFormIO, cgiFormFileOpen("f", &h));
    EXPECT_EQ(untouched, h);
    EXPECT_EQ(cgiFormOpenFailed, cgiFormFileRead(nullptr, buf, 1, &got));
    EXPECT_EQ(cgiFormOpenFailed, cgiFormFileClose(nullptr));
}

TEST(Cookies, Lookup)
{
    const struct {
        const char *header, *name;
        int space;
        const char* value;
        cgiFormResultType code;
    } cases[] = {
        {"a=1; ab=2", "ab", 64, "2", cgiFormSuccess},
        {"a=1; ab=2", "a", 64, "1", cgiFormSuccess},
        {"x=ab=1", "ab", 64, "", cgiFormNotFound},
        {"a =1", "a", 64, "", cgiFormNotFound},
        {"flag; b=2", "b", 64, "2", cgiFormSuccess},
        {"a=1; last", "last", 64, "", cgiFormNotFound},
        {"a=xyz", "a", 0, "#", cgiFormTruncated},
        {"a=xyz", "a", 3, "xy", cgiFormTruncated},
        {"a=hello world ;b=1", "a", 64, "hello world ", cgiFormSuccess},
        {"a=1;\t b=%22q%22", "b", 64, "%22q%22", cgiFormSuccess},
        {"a=1; a=2", "a", 64, "1", cgiFormSuccess},
    };
    for (const auto& c : cases) {
        resetRequest();
        std::string header = c.header;
        cgiCookie = &header[0];
        char value[64] = "#";
        EXPECT_EQ(c.code, cgiCookieString(c.name, value, c.space)) << c.header << " / " << c.name;
        EXPECT_STREQ(c.value, value) << c.header << " / " << c.name;
    }
}

TEST(Cookies, IntegersAndNames)
{
    std::string header =
        "n=42; s=abc; long=" + std::string(300, '7') + "; x=ab=1; sp =1; flag; b=2; tail";
    resetRequest();
    cgiCookie = &header[0];
    const struct {
        const char* name;
        int value;
        cgiFormResultType code;
    } ints[] = {{"n", 42, cgiFormSuccess},
                {"s", 0, cgiFormSuccess},
                {"long", 5, cgiFormTruncated},
                {"zz", 5, cgiFormNotFound}};
    for (const auto& c : ints) {
        int v = -1;
        EXPECT_EQ(c.code, cgiCookieInteger(c.name, &v, 5)) << c.name;
        EXPECT_EQ(c.value, v) << c.name;
    }
    char** names = nullptr;
    ASSERT_EQ(cgiFormSuccess, cgiCookies(&names));
    EXPECT_EQ((std::vector<std::string>{"n", "s", "long", "x", "sp ", "flag; b", "tail"}),
              strings(names));
    cgiStringArrayFree(names);
    cgiCookie = cgiEmptyString;
    ASSERT_EQ(cgiFormSuccess, cgiCookies(&names));
    EXPECT_EQ(nullptr, names[0]);
    cgiStringArrayFree(names);
}

TEST(Headers, Lines)
{
    setenv("TZ", "EST5", 1);  // expiry dates are in GMT whatever the local zone
    tzset();
    const time_t newYear2026 = 1767225600;  // 2026-01-01 00:00:00 UTC
    EXPECT_EQ("Set-Cookie: s=v; domain=; expires=Thu, 01-Jan-2026 01:00:00 GMT; path=/\r\n",
              captureOut([&] { cgiWriteSetCookie(newYear2026 + 3600, "s", "v", "/", ""); }));
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
    EXPECT_EQ("Location: /x?y=1\r\n\r\n", captureOut([] { cgiHeaderLocation("/x?y=1"); }));
    EXPECT_EQ("Status: 404 Not Found\r\n\r\n",
              captureOut([] { cgiHeaderStatus(404, "Not Found"); }));
    EXPECT_EQ("Content-type: text/html\r\n\r\n",
              captureOut([] { cgiHeaderContentType("text/html"); }));
}

TEST(Escaping, HtmlAndValue)
{
    const std::string data("a\"<&>'b\0<", 9);
    const struct {
        cgiFormResultType (*escapeData)(const char*, int);
        cgiFormResultType (*escapeText)(const char*);
        std::string all, text;
    } cases[] = {
        {cgiHtmlEscapeData, cgiHtmlEscape, std::string("a\"&lt;&amp;&gt;'b\0&lt;", 22),
         "a\"&lt;&amp;&gt;'b"},
        {cgiValueEscapeData, cgiValueEscape, std::string("a&#34;<&>'b\0<", 13), "a&#34;<&>'b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.all,
                  captureOut([&] { EXPECT_EQ(cgiFormSuccess, c.escapeData(data.data(), 9)); }));
        EXPECT_EQ(c.text,
                  captureOut([&] { EXPECT_EQ(cgiFormSuccess, c.escapeText(data.c_str())); }));
        FILE* saved = cgiOut;
        cgiOut = fopen("/dev/null", "r");  // every write fails
        EXPECT_EQ(cgiFormIO, c.escapeData(data.data(), 9));
        fclose(cgiOut);
        cgiOut = saved;
    }
}

}  // namespace
