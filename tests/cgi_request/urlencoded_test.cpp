// urlencoded_test.cpp - URL-encoded decoding, percent-decoding, the
// line-break copy rule, content-type splitting and case-insensitive compare.
#include "test_support.h"

#include <climits>

namespace {

struct Field {
    std::string attr, value;
    int valueLength;
};

std::vector<Field> entries()
{
    std::vector<Field> out;
    for (cgiFormEntry* e = cgiFormEntryFirst; e; e = e->next) {
        EXPECT_STREQ("", e->fileName);
        EXPECT_STREQ("", e->tfileName);
        out.push_back({e->attr, e->value, e->valueLength});
    }
    return out;
}

bool operator==(const Field& a, const Field& b)
{
    return a.attr == b.attr && a.value == b.value && a.valueLength == b.valueLength;
}

TEST(UrlEncoded, FieldsNamesValuesAndEscapes)
{
    const struct {
        const char* query;
        std::vector<Field> expected;
    } cases[] = {
        {"a=1&b=2&a=3", {{"a", "1", 1}, {"b", "2", 1}, {"a", "3", 1}}},
        {"a&b=c", {{"a&b", "c", 1}}},
        {"a=1&b", {{"a", "1", 1}}},
        {"a=1&&b=2", {{"a", "1", 1}, {"&b", "2", 1}}},
        {"a=", {{"a", "", 0}}},
        {"x=%41%4a+b", {{"x", "AJ b", 4}}},
        {"x=%zz", {{"x", "", 0}}},
        {"x=%4", {{"x", "", 0}}},
        {"x=ab%00cd", {{"x", "ab", 2}}},
        {"n%61me+1=v=w", {{"name 1", "v=w", 3}}},
        {"", {}},
    };
    for (const auto& c : cases) {
        loadQuery(c.query);
        EXPECT_EQ(c.expected, entries()) << c.query;
    }
}

TEST(UrlEncoded, CopyRule)
{
    const struct {
        const char* value;
        int max, newlines;
        const char* result;
        cgiFormResultType code;
    } cases[] = {
        {"a%0D%0Ab", 10, 1, "a\nb", cgiFormSuccess},
        {"a%0Ab%0Dc", 10, 1, "a\nb\nc", cgiFormSuccess},
        {"a%0D%0D%0Ab", 10, 1, "a\n\nb", cgiFormSuccess},
        {"a%0D%0A%0D%0Ab", 10, 0, "ab", cgiFormSuccess},
        {"%0D%0A", 10, 0, "", cgiFormEmpty},
        {"abcdefghijklmnop", 12, 1, "abcdefghijk", cgiFormTruncated},
        {"abcdefghijk", 12, 1, "abcdefghijk", cgiFormSuccess},
        {"abcdefghij%0A", 12, 1, "abcdefghij\n", cgiFormSuccess},
        {"abcdefghij%0D%0D", 12, 1, "abcdefghij\n", cgiFormTruncated},
        {"abcdefghijk%0A", 12, 0, "abcdefghijk", cgiFormSuccess},
        {"ab", 1, 1, "", cgiFormTruncated},
    };
    for (const auto& c : cases) {
        loadQuery(std::string("v=") + c.value);
        char buf[64];
        memset(buf, '#', sizeof buf);
        EXPECT_EQ(c.code, cgiFormEntryString(cgiFormEntryFirst, buf, c.max, c.newlines)) << c.value;
        EXPECT_STREQ(c.result, buf) << c.value;
    }
    char buf[4] = "xy";
    EXPECT_EQ(cgiFormNotFound, cgiFormString("absent", buf, sizeof buf));
    EXPECT_STREQ("", buf);
}

TEST(UrlEncoded, FindFollowsNamesExactly)
{
    loadQuery("a=1&A=2&a=3&b=4");
    ASSERT_STREQ("1", cgiFormEntryFindFirst("a")->value);
    EXPECT_STREQ("3", cgiFormEntryFindNext()->value);
    EXPECT_EQ(nullptr, cgiFormEntryFindNext());
    EXPECT_STREQ("2", cgiFormEntryFindFirst("A")->value);
}

TEST(RequestCore, ContentTypeSplit)
{
    const struct {
        const char *contentType, *type, *boundary;
    } cases[] = {
        {"multipart/form-data; boundary=XyZ", "multipart/form-data", "XyZ"},
        {"Multipart/Form-Data; BOUNDARY=q", "Multipart/Form-Data", "q"},
        {"multipart/form-data ; boundary=q", "multipart/form-data ", "q"},
        {"multipart/form-data; boundary=abc; charset=x", "multipart/form-data", "abc;"},
        {"multipart/form-data; charset=x;\t boundary=\"q r\"", "multipart/form-data", "\"q"},
        {"text/plain", "text/plain", ""},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        snprintf(cgiContentTypeData, sizeof cgiContentTypeData, "%s", c.contentType);
        cgiSplitContentType();
        EXPECT_STREQ(c.type, cgiContentType) << c.contentType;
        EXPECT_STREQ(c.boundary, cgiMultipartBoundary) << c.contentType;
    }
}

TEST(RequestCore, CaseInsensitiveCompare)
{
    const struct {
        const char *s1, *s2;
        int eq, begins;
    } cases[] = {
        {"Post", "pOsT", 1, 1}, {"post", "pos", 0, 1}, {"pos", "post", 0, 0},
        {"[", "{", 0, 0},       {"a@", "A@", 1, 1},    {"x", "", 0, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.eq, cgiStrEqNc(c.s1, c.s2)) << c.s1 << " " << c.s2;
        EXPECT_EQ(c.begins, cgiStrBeginsNc(c.s1, c.s2)) << c.s1 << " " << c.s2;
    }
}

TEST(RequestCore, BodyReadFailures)
{
    const struct {
        int length;
        const char* body;
        cgiParseResultType result;
        size_t entries;
    } cases[] = {
        {0, "a=1", cgiParseSuccess, 0},
        {4, "a=1", cgiParseIO, 0},
        {-1, "a=1", cgiParseMemory, 0},
        {INT_MAX, "a=1", cgiParseIO, 0},
    };
    for (const auto& c : cases) {
        resetRequest();
        cgiIn = streamOf(c.body);
        cgiContentLength = c.length;
        EXPECT_EQ(c.result, cgiParsePostFormInput()) << c.length;
        EXPECT_EQ(c.entries, entries().size()) << c.length;
        fclose(cgiIn);
    }
}

}  // namespace
