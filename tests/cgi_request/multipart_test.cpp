// multipart_test.cpp - the multipart delimiter search against a byte-by-byte
// model on random bodies, some across the read window's edge.
#include "cgi_request_internal.h"

#include <gtest/gtest.h>

#include <random>

std::string g_hookCalls;  // "DATA/END|" per hook call of the current search
int g_hookCount;          // its hook calls
int g_hookRefuseAt;       // 1-based call that returns -1; 0: none

int cgiOnRecvFormFile(char* pbuffer, int len, int end)
{
    g_hookCalls += std::string(pbuffer, len) + "/" + std::to_string(end) + "|";
    return ++g_hookCount == g_hookRefuseAt ? -1 : 0;
}

namespace {

// The body read of afterNextBoundary as the decoder is defined, byte by
// byte: a failed partial match hands on the pattern's first byte and queues
// the rest of the match and the mismatching byte behind any bytes still
// queued, to be read again before new input.
struct Model {
    std::string in, queue;  // bytes it may read; bytes queued
    size_t taken = 0;       // bytes taken from in
    bool ok = false;
    int bodyLength = 0, calls = 0;
    std::string hooked;  // as g_hookCalls
    int get()
    {
        if (queue.empty())
            return taken < in.size() ? static_cast<unsigned char>(in[taken++]) : -1;
        const unsigned char c = queue[0];
        queue.erase(0, 1);
        return c;
    }
    void run(const std::string& pattern, int refuseAt)
    {
        std::string buf;
        auto deliver = [&](int end) {
            hooked += buf + "/" + std::to_string(end) + "|";
            buf.clear();
            return ++calls != refuseAt;
        };
        int c;
        for (size_t b = 0; b < pattern.size();) {
            if ((c = get()) < 0)
                return;
            if (c == static_cast<unsigned char>(pattern[b]) && ++b)
                continue;
            buf += b ? pattern[0] : static_cast<char>(c);
            queue += b ? pattern.substr(1, b - 1) + static_cast<char>(c) : "";
            bodyLength++, b = 0;
            if (buf.size() == 1024 && !deliver(0))
                return;
        }
        if (!buf.empty() && !deliver(1))
            return;
        const int c1 = get(), c2 = get();
        if (c2 < 0)
            return;
        if (c1 == '-')
            queue += std::string{static_cast<char>(c1), static_cast<char>(c2)};
        ok = true;
    }
};

TEST(Multipart, DelimiterSearch)
{
    std::mt19937 rng(1234);
    const char* boundaries[] = {"ab", "-a-b", "a-", "", "aab", "-", "b--a"};
    const char alphabet[] = "\r\nab-";
    for (int iter = 0; iter < 30000; iter++) {
        // Short inputs over the whole alphabet; long ones (bodies of a part,
        // not a preamble) without '-', a near miss and the delimiter put
        // across the edge of the first read window.
        const bool big = iter >= 29950;
        const char* boundary = boundaries[rng() % 7];
        const int first = big ? 0 : rng() % 2;
        const std::string pattern = (first ? "--" : "\r\n--") + std::string(boundary);
        const size_t n = big ? kMpWindow - 30 + rng() % 40 : rng() % 40;
        std::string in(n, 'a');
        for (char& c : in)
            c = alphabet[rng() % (big ? 4 : 5)];
        if (big)
            in += pattern.substr(0, rng() % pattern.size()) + "a" + pattern + "\r\nab--";
        else if (rng() % 2 && n > 0)
            in.insert(rng() % n, pattern);
        const size_t limit = rng() % 4 ? in.size() : rng() % (in.size() + 1);
        const int refuseAt = rng() % 3 ? 0 : 1 + rng() % 3;
        Model model{in.substr(0, limit), "", 0, false, 0, 0, ""};
        model.run(pattern, refuseAt);

        g_hookCalls.clear();
        g_hookCount = 0;
        g_hookRefuseAt = refuseAt;
        cgiIn = tmpfile();
        fwrite(in.data(), 1, in.size(), cgiIn);
        rewind(cgiIn);
        cgiContentLength = static_cast<int>(limit);
        cgiMultipartBoundary = const_cast<char*>(boundary);
        mpStream m;
        mpStart(&m);
        int bodyLength = -1;
        const cgiParseResultType r = afterNextBoundary(&m, nullptr, nullptr, &bodyLength, first);
        ASSERT_EQ(model.ok, r == cgiParseSuccess) << iter;
        ASSERT_EQ(model.hooked, g_hookCalls) << iter;
        ASSERT_EQ(model.ok ? model.bodyLength : 0, bodyLength) << iter;
        if (model.ok) {
            ASSERT_EQ(static_cast<long long>(model.taken - model.queue.size()), mpOffset(&m))
                << iter;
            std::string rest;
            for (char c; mpRead(&m, &c, 1) == 1;)
                rest += c;
            ASSERT_EQ(model.queue + model.in.substr(model.taken), rest) << iter;
        }
        fclose(cgiIn);
    }
}

}  // namespace
