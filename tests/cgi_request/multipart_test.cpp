// multipart_test.cpp - multipart decoding: hook chunking, delimiter search
// against a byte-by-byte model, window edges, part header lines and values,
// and entries built from whole bodies.
#include "child_process.h"
#include "test_support.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <random>

std::vector<HookCall> g_hookCalls;
int g_hookRefuseAt;

int cgiOnRecvFormFile(char* pbuffer, int len, int end)
{
    EXPECT_TRUE(len >= 1 && len <= 1024) << len;
    g_hookCalls.push_back({std::string(pbuffer, len), end});
    return static_cast<int>(g_hookCalls.size()) == g_hookRefuseAt ? -1 : 0;
}

namespace {

// Decodes body as a whole request (length = its size unless given).
cgiParseResultType decode(const std::string& body, const char* boundary = "XyZ", int length = -1)
{
    resetRequest();
    cgiIn = streamOf(body);
    cgiContentLength = length < 0 ? static_cast<int>(body.size()) : length;
    cgiMultipartBoundary = const_cast<char*>(boundary);
    cgiParseResultType r = cgiParsePostMultipartInput();
    fclose(cgiIn);
    return r;
}

std::string part(const std::string& headers, const std::string& body)
{
    return "--XyZ\r\n" + headers + "\r\n\r\n" + body + "\r\n";
}

// The entries as "name|file|type|length|hasTempFile" lines.
std::string entryList()
{
    std::string s;
    for (cgiFormEntry* e = cgiFormEntryFirst; e; e = e->next)
        s += std::string(e->attr) + "|" + e->fileName + "|" + e->contentType + "|" +
             std::to_string(e->valueLength) + "|" + (e->tfileName[0] ? "T" : "-") + "\n";
    return s;
}

std::vector<HookCall> chunksOf(const std::string& body)
{
    std::vector<HookCall> v;
    for (size_t i = 0; i + 1024 <= body.size(); i += 1024)
        v.push_back({body.substr(i, 1024), 0});
    if (body.size() % 1024)
        v.push_back({body.substr(body.size() / 1024 * 1024), 1});
    return v;
}

// Full 1024-byte chunks with the end flag clear, then the rest (if any) with it set.
TEST(Multipart, ChunkingAtKilobyteBoundaries)
{
    for (size_t size : {0, 1023, 1024, 1025, 2048}) {
        std::string body(size, 'b');
        for (size_t i = 0; i < size; i++)
            body[i] = static_cast<char>('a' + i % 23);
        ASSERT_EQ(cgiParseSuccess,
                  decode(part("Content-Disposition: form-data; name=\"f\"", body) + "--XyZ--"));
        EXPECT_EQ(chunksOf(body), g_hookCalls) << size;
        EXPECT_EQ("f|||" + std::to_string(size) + "|-\n", entryList());
    }
}

TEST(Multipart, DelimiterAcrossReadWindows)
{
    // The search reads the body in windows; put a near miss and then the
    // delimiter across the first window edge, each cut there at every byte.
    const std::string head = part("Content-Disposition: form-data; name=\"f\"", "");
    const size_t preface = head.size() - 2;  // the body starts here
    for (size_t at = kMpWindow - 20; at <= kMpWindow + 4; at++) {
        std::string body(at - preface, 'q');
        body += "\r\n--Xy_";  // a near miss just before the real delimiter
        std::string b = head.substr(0, preface) + body + "\r\n--XyZ--";
        ASSERT_EQ(cgiParseSuccess, decode(b)) << at;
        EXPECT_EQ(chunksOf(body), g_hookCalls) << at;
    }
}

// ---- Byte-by-byte model of the body read, as the decoder is defined ----

struct ModelStream {
    std::string in;     // bytes the client sent
    size_t limit;       // the content length
    size_t taken = 0;   // bytes taken from in
    std::string queue;  // bytes returned, read before new input
    int get()
    {
        if (!queue.empty()) {
            unsigned char c = queue[0];
            queue.erase(0, 1);
            return c;
        }
        return taken < limit && taken < in.size() ? static_cast<unsigned char>(in[taken++]) : -1;
    }
    std::string rest()
    {
        std::string s;
        for (int c; (c = get()) >= 0;)
            s += static_cast<char>(c);
        return s;
    }
};

struct ModelResult {
    bool ok;
    int bodyLength;
    std::vector<HookCall> calls;
};

ModelResult modelAfterNextBoundary(ModelStream& s, const std::string& pattern, int refuseAt)
{
    ModelResult r{false, 0, {}};
    std::string buf;
    int total = 0;
    auto deliver = [&](int end) {
        r.calls.push_back({buf, end});
        buf.clear();
        return static_cast<int>(r.calls.size()) != refuseAt;
    };
    size_t b = 0;
    for (;;) {
        int c = s.get();
        if (c < 0)
            return r;
        if (c == static_cast<unsigned char>(pattern[b])) {
            if (++b == pattern.size())
                break;
            continue;
        }
        buf += b ? pattern[0] : static_cast<char>(c);
        total++;
        if (b)
            s.queue += pattern.substr(1, b - 1) + static_cast<char>(c);
        b = 0;
        if (buf.size() == 1024 && !deliver(0))
            return r;
    }
    if (!buf.empty() && !deliver(1))
        return r;
    int c1 = s.get(), c2 = s.get();
    if (c1 < 0 || c2 < 0)
        return r;
    if (c1 == '-')
        s.queue += std::string{static_cast<char>(c1), static_cast<char>(c2)};
    r.ok = true;
    r.bodyLength = total;
    return r;
}

TEST(Multipart, DelimiterSearchMatchesByteByByteModel)
{
    std::mt19937 rng(1234);
    const char* boundaries[] = {"ab", "-a-b", "a-", "", "aab", "-", "b--a"};
    const char alphabet[] = "\r\n-ab";
    for (int iter = 0; iter < 30000; iter++) {
        const char* boundary = boundaries[rng() % 7];
        int first = rng() % 2;
        size_t n = iter < 29950 ? rng() % 40 : 1024 + rng() % 140000;
        std::string in(n, 'a');
        for (char& c : in)
            c = alphabet[rng() % 5];
        if (rng() % 2 && n > 0) {
            std::string delim = (first ? "--" : "\r\n--") + std::string(boundary);
            in.insert(rng() % n, delim);
        }
        size_t limit = rng() % 4 ? in.size() : rng() % (in.size() + 1);
        int refuseAt = rng() % 3 ? 0 : 1 + rng() % 3;

        ModelStream model{in, limit, 0, ""};
        ModelResult expected = modelAfterNextBoundary(
            model, (first ? "--" : "\r\n--") + std::string(boundary), refuseAt);

        resetRequest();
        g_hookRefuseAt = refuseAt;
        cgiIn = streamOf(in);
        cgiContentLength = static_cast<int>(limit);
        cgiMultipartBoundary = const_cast<char*>(boundary);
        mpStream m;
        mpStart(&m);
        int bodyLength = -1;
        cgiParseResultType r = afterNextBoundary(&m, nullptr, nullptr, &bodyLength, first);
        ASSERT_EQ(expected.ok, r == cgiParseSuccess) << iter;
        ASSERT_EQ(expected.calls, g_hookCalls) << iter;
        ASSERT_EQ(expected.bodyLength, bodyLength) << iter;
        if (expected.ok) {
            ASSERT_EQ(static_cast<long long>(model.taken - model.queue.size()), mpOffset(&m))
                << iter;
            std::string rest;
            char c;
            while (mpRead(&m, &c, 1) == 1)
                rest += c;
            ASSERT_EQ(model.rest(), rest) << iter;
        }
        fclose(cgiIn);
    }
}

// ---- Part header lines and values ----

TEST(Multipart, HeaderLines)
{
    const struct {
        const char* input;
        int result;
        const char *attr, *value, *rest;
    } cases[] = {
        {"Content-Disposition: form-data\r\nX", 1, "Content-Disposition", "form-data", "X"},
        {"Name : v a:l \r\n", 1, "Name", "v a:l ", ""},
        {"  Sp ace :x\nY", 1, "Space", "x", "Y"},
        {"\r\nY", 0, "", "", "Y"},
        {"NoColon\r\nNext", 0, "NoColon", "", "Next"},
        {"Lone:\r\n\r\nbody\r\nmore", 1, "Lone", "body", "more"},
        {"A:\t\v\f  b c", 1, "A", "b c", ""},
    };
    for (const auto& c : cases) {
        resetRequest();
        cgiIn = streamOf(c.input);
        cgiContentLength = static_cast<int>(strlen(c.input));
        mpStream m;
        mpStart(&m);
        char attr[1024] = "#", value[1024] = "#";
        EXPECT_EQ(c.result, readHeaderLine(&m, attr, sizeof attr, value, sizeof value)) << c.input;
        EXPECT_STREQ(c.attr, attr) << c.input;
        EXPECT_STREQ(c.value, value) << c.input;
        char rest[64] = "";
        int n = mpRead(&m, rest, sizeof rest - 1);
        EXPECT_STREQ(c.rest, n > 0 ? rest : "") << c.input;
        fclose(cgiIn);
    }
}

TEST(Multipart, HeaderValues)
{
    const struct {
        const char* input;
        const char *main, *name, *filename;
    } cases[] = {
        {"form-data; name=\"a\"; filename=\"x;y.txt\"", "form-data", "a", "x;y.txt"},
        {"form-data ; name=\"a\"", "form-data ", "a", ""},
        {"form-data; my-param=\"z\"; name=\"a\"", "form-data", "", ""},
        {"form-data; other=\"1\"; name=bare ; filename=\"q\"", "form-data", "bare ", "q"},
        {"  \"quoted;main\" junk; name=x", "quoted;main", "x", ""},
        {"form-data; name = \"s p\" tail ;filename=f", "form-data", "s p", "f"},
        {"form-data; name=\"open", "form-data", "open", ""},
    };
    static const char* const names[] = {"name", "filename", nullptr};
    for (const auto& c : cases) {
        char main[1024], name[1024] = "old", filename[1024] = "old";
        char* values[] = {name, filename};
        decomposeValue(c.input, main, sizeof main, names, values, sizeof name);
        EXPECT_STREQ(c.main, main) << c.input;
        EXPECT_STREQ(c.name, name) << c.input;
        EXPECT_STREQ(c.filename, filename) << c.input;
    }
    static const char* const none[] = {nullptr};
    char type[6];
    decomposeValue("text/plain; charset=utf-8", type, sizeof type, none, nullptr, 0);
    EXPECT_STREQ("text/", type);
}

TEST(Multipart, PartsToEntries)
{
    const std::string cd = "Content-Disposition: ";
    const struct {
        const char* what;
        std::string body;
        cgiParseResultType result;
        const char* entries;
    } cases[] = {
        {"empty form", "--XyZ--", cgiParseSuccess, ""},
        {"no delimiter", "just text", cgiParseSuccess, ""},
        {"mixed case headers",
         part("CONTENT-DISPOSITION: Form-Data; NAME=\"n\"; FILENAME=\"f\"\r\ncontent-type: "
              "text/plain; charset=x",
              "abc") +
             "--XyZ--",
         cgiParseSuccess, "n|f|text/plain|3|T\n"},
        {"later header wins",
         part(cd + "form-data; name=\"a\"; filename=\"f\"\r\n" + cd + "form-data; name=\"b\"",
              "z") +
             "--XyZ--",
         cgiParseSuccess, "b|||1|-\n"},
        {"value on next line",
         "--XyZ\r\n" + cd + "\r\n\r\nform-data; name=\"v\"\r\nX-A: 1\r\n\r\nbody\r\n--XyZ--",
         cgiParseSuccess, "v|||4|-\n"},
        {"epilogue", part(cd + "form-data; name=\"e\"", "1") + "--XyZ--\r\nmore\r\n--XyZ\r\n",
         cgiParseSuccess, "e|||1|-\n"},
        {"body cut",
         part(cd + "form-data; name=\"a\"", "1") + "--XyZ\r\n" + cd +
             "form-data; name=\"c\"\r\n\r\nab",
         cgiParseIO, "a|||1|-\n"},
        {"one byte after delimiter", "--XyZ\r\n" + cd + "form-data; name=\"a\"\r\n\r\n1\r\n--XyZ-",
         cgiParseIO, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.result, decode(c.body)) << c.what;
        EXPECT_EQ(c.entries, entryList()) << c.what;
    }
    // A zero length reads nothing at all.
    EXPECT_EQ(cgiParseSuccess, decode("--XyZ\r\n", "XyZ", 0));
    EXPECT_TRUE(g_hookCalls.empty());
}

TEST(Multipart, RefusedChunkFailsAndRemovesTheTemporaryFile)
{
    const std::string body =
        part("Content-Disposition: form-data; name=\"f\"; filename=\"x\"", std::string(3000, 'x'));
    for (int refuse = 1; refuse <= 3; refuse++) {
        resetRequest();
        g_hookRefuseAt = refuse;
        cgiIn = streamOf(body + "--XyZ--");
        cgiContentLength = static_cast<int>(body.size() + 7);
        cgiMultipartBoundary = const_cast<char*>("XyZ");
        EXPECT_EQ(cgiParseIO, cgiParsePostMultipartInput()) << refuse;
        EXPECT_EQ(static_cast<size_t>(refuse), g_hookCalls.size());
        EXPECT_EQ(nullptr, cgiFormEntryFirst);
        fclose(cgiIn);
    }
}

// No descriptor left for a file part's temporary file: the request fails,
// the text part's entry stays for the end of the request to release.
TEST(Multipart, TemporaryFileNotMade)
{
    const std::string body =
        part("Content-Disposition: form-data; name=\"t\"", "1") +
        part("Content-Disposition: form-data; name=\"f\"; filename=\"x\"", "abc") + "--XyZ--";
    resetRequest();
    cgiIn = streamOf(body);
    cgiContentLength = static_cast<int>(body.size());
    cgiMultipartBoundary = const_cast<char*>("XyZ");
    const auto before = testproc::tmpFiles();
    rlimit saved{};
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &saved));
    const int lowestFree = open("/dev/null", O_RDONLY);
    close(lowestFree);
    const rlimit none{static_cast<rlim_t>(lowestFree), saved.rlim_max};
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &none));
    const cgiParseResultType r = cgiParsePostMultipartInput();
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &saved));
    EXPECT_EQ(cgiParseIO, r);
    EXPECT_EQ("t|||1|-\n", entryList());
    EXPECT_EQ(before, testproc::tmpFiles());
    fclose(cgiIn);
}

}  // namespace
