// sim_stream_test.cpp - dvrsim's picture streams read as a client would on a
// free loopback port: chunk and part framing exact to the byte, pictures
// identified by their pixels, and the stream limit.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <turbojpeg.h>
#include <unistd.h>
#include <vector>

#include "child_process.h"
#include "sim_stream.h"
#include "sim_stream_picture.h"

using namespace testproc;

namespace {

sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// One HTTP GET on a fresh connection, and what came back of it.
struct Connection {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    bool closed = false;  // by the server
    std::string data;     // raw bytes received

    Connection(int port, const std::string& target)
    {
        const sockaddr_in a = loopback(port);
        const std::string req = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        if (connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0)
            send(fd, req.data(), req.size(), MSG_NOSIGNAL);
    }
    ~Connection() { close(fd); }
    // Reads until `done` holds, the server closes, or 10 s pass.
    template <typename Done>
    void read_until(Done done)
    {
        for (int waited = 0; !closed && !done() && waited < 10000; waited += 50) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            char buf[65536];
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            closed = n <= 0;
            if (n > 0)
                data.append(buf, static_cast<size_t>(n));
        }
    }
    size_t head_end() const { return data.find("\r\n\r\n"); }
    std::string head() const { return data.substr(0, head_end() + 2); }
    bool answered() const { return head_end() != std::string::npos; }
    int status() const { return data.size() > 12 ? std::atoi(data.c_str() + 9) : 0; }

    // The pictures received whole: the body of an image/jpeg response, or
    // the parts of a chunked multipart stream. A byte out of place in the
    // chunks or parts sets `bad` and ends the list there.
    std::vector<std::string> pictures(bool* bad = nullptr) const
    {
        bool ignored = false, &wrong = bad ? *bad : ignored;
        wrong = false;
        const std::string h = head(), body = answered() ? data.substr(head_end() + 4) : "";
        if (h.find("Content-Type: image/jpeg\r\n") != h.npos &&
            h.find("Content-Length: " + std::to_string(body.size()) + "\r\n") != h.npos)
            return {body};
        // The fields of `text`, each `lead`, its length in `base`, CRLF, `gap`,
        // the bytes and CRLF; an incomplete last one is left out.
        const auto split = [&](const std::string& text, const std::string& lead, int base,
                               const std::string& gap) {
            std::vector<std::string> fields;
            for (size_t at = 0, eol; !wrong && (eol = text.find("\r\n" + gap, at)) != text.npos;) {
                char* end = nullptr;
                const bool led = text.compare(at, lead.size(), lead) == 0;
                const size_t n =
                    led ? std::strtoul(text.c_str() + at + lead.size(), &end, base) : 0;
                const size_t start = eol + 2 + gap.size();
                wrong = !led || end != text.c_str() + eol;
                if (wrong || text.size() < start + n + 2)
                    break;
                fields.push_back(text.substr(start, n));
                wrong = text.compare(start + n, 2, "\r\n") != 0;
                at = start + n + 2;
            }
            return fields;
        };
        std::string parts;
        if (h.find("Transfer-Encoding: chunked\r\n") != h.npos &&
            h.find("Type: multipart/x-mixed-replace; boundary=dvrsimframe\r\n") != h.npos)
            for (const std::string& chunk : split(body, "", 16, ""))
                parts += chunk;
        return split(parts, "--dvrsimframe\r\nContent-Type: image/jpeg\r\nContent-Length: ", 10,
                     "\r\n");
    }
};

// A picture's camera number and clock as drawn, read by sampling the centre
// of every font dot ('?' where no glyph of "0123456789-: " fits); "size"
// when it is no picture of the stated size.
std::string shown(const std::string& jpeg)
{
    std::vector<unsigned char> lum(kPictureWidth * kPictureHeight);
    tjhandle h = tjInitDecompress();
    int w = 0, ht = 0, sub = 0, space = 0;
    auto* src = reinterpret_cast<const unsigned char*>(jpeg.data());
    const bool ok = tjDecompressHeader3(h, src, jpeg.size(), &w, &ht, &sub, &space) == 0 &&
                    w == kPictureWidth && ht == kPictureHeight &&
                    tjDecompress2(h, src, jpeg.size(), lum.data(), w, 0, ht, TJPF_GRAY, 0) == 0;
    tjDestroy(h);
    const int lines[2][4] = {
        {kCamTextX + 4 * kGlyphAdvance * kCamTextScale, kCamTextY, kCamTextScale, 2},
        {kClockTextX, kClockTextY, kClockTextScale, 19}};  // x, y, scale, count
    std::string text = ok ? "" : "size";
    for (const auto& [x, y, scale, count] : lines)
        for (int i = 0; ok && i <= count; ++i) {
            unsigned char rows[kGlyphHeight] = {};
            for (int r = 0; i < count && r < kGlyphHeight; ++r)
                for (int c = 0; c < kGlyphWidth; ++c) {
                    const int px = x + i * kGlyphAdvance * scale + c * scale + scale / 2;
                    rows[r] |= (lum[(y + r * scale + scale / 2) * kPictureWidth + px] > 128)
                               << (kGlyphWidth - 1 - c);
                }
            char found = i == count ? ' ' : '?';
            for (char c : std::string("0123456789-: "))
                found = i < count && std::memcmp(rows, sim_glyph(c), kGlyphHeight) == 0 ? c : found;
            text += found;
        }
    return text;
}

// dvrsim on the built-in configuration with the stream port moved to a free
// one; a full server refuses one more stream and takes it again once a client
// leaves.
TEST(Stream, RequestsAndStreamLimit)
{
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(probe, reinterpret_cast<sockaddr*>(&a), &len);
    close(probe);
    const int port = ntohs(a.sin_port);
    const std::string conf = "/tmp/sim_stream_test.conf." + std::to_string(getpid());
    std::ofstream(conf) << readFile(DVRSIM_DEFAULT_CONF) << "\nnetwork.listen_port = " << port
                        << "\n";
    Child sim(Launch{{DVRSIM_PATH, "run", "--replace", "--config", conf}});
    ASSERT_TRUE(sim.waitFor("dvrsim: streams on", 10000));
    unlink(conf.c_str());

    const std::string pb = "/playback?year=2021&month=2&day=12&pass=4711&cam=";
    // Pictures from the asked second on, round within the recording's day, as
    // a multipart stream or a still; the camera and clock read from the pixels.
    const std::pair<std::string, std::vector<std::pair<size_t, std::string>>> cases[] = {
        {"/playback?year=2021&month=2&day=12&pass=4711&cam=5&sec=86398",
         {{0, "05 2021-02-12 23:59:58"}, {20, "05 2021-02-12 00:00:00"}}},
        {"/playback?cam=20&year=2127&month=15&day=31&sec=0&pass=4711&still=1",
         {{0, "20 2127-15-31 00:00:00"}}},
    };
    for (const auto& [target, shows] : cases) {
        SCOPED_TRACE(target);
        Connection conn(port, target);
        conn.read_until([&] { return conn.pictures().size() > shows.back().first; });
        bool bad = true;
        const std::vector<std::string> pics = conn.pictures(&bad);
        EXPECT_FALSE(bad) << conn.data.substr(0, 400);
        EXPECT_EQ(200, conn.status());
        EXPECT_EQ(target.find("still") != std::string::npos,
                  conn.head().find("image/jpeg") != std::string::npos);
        ASSERT_GT(pics.size(), shows.back().first);
        for (const auto& [index, text] : shows)
            EXPECT_EQ(text, shown(pics[index]).substr(0, text.size())) << index;
    }

    // A stream, retried while the server has not yet noticed a client gone.
    const auto open = [&](const char* target) {
        for (int tries = 0; tries < 200; ++tries, usleep(50000)) {
            auto s = std::make_unique<Connection>(port, target);
            s->read_until([&] { return s->status() == 503 || !s->pictures().empty(); });
            if (!s->pictures().empty())
                return s;
        }
        return std::unique_ptr<Connection>();
    };
    std::vector<std::unique_ptr<Connection>> streams;
    for (int i = 1; i <= kSimStreamMax; ++i) {
        streams.push_back(open("/live?cam=1&pass=4711"));
        ASSERT_TRUE(streams.back()) << i;
    }
    Connection extra(port, "/live?cam=1&pass=4711");
    extra.read_until([&] { return extra.answered(); });
    EXPECT_EQ(503, extra.status());
    streams.pop_back();
    EXPECT_TRUE(open("/live?cam=3&pass=4711")) << "no place freed";
}

}  // namespace
