// sim_stream_test.cpp - the simulator's picture streams, with dvrsim run as a
// separate process on a free loopback port: frames at the stated rate whose
// pixels show the camera and the time, refusals without the passcode, a
// message loop that answers while eight streams run, the clock request
// reaching the pictures, and a clean stop on SIGTERM and SIGINT with streams
// open. Registered only where the simulator is built with streams.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <turbojpeg.h>
#include <unistd.h>
#include <vector>

#include "cgi_cfg_session.h"
#include "sim_device.h"
#include "sim_sessions.h"
#include "sim_stream.h"
#include "sim_stream_picture.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string slurp(const std::string& path)
{
    std::ifstream f(path);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

bool poll_until(const std::function<bool()>& done, int ms = 10000)
{
    for (int waited = 0; waited < ms; waited += 10, usleep(10000))
        if (done())
            return true;
    return false;
}

// A loopback port nobody listens on right now.
int free_port()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

// dvrsim run on the built-in configuration with the stream port moved to
// `port`, its output in a file.
struct Simulator {
    pid_t pid = -1;
    std::string out, conf;
    int port = 0;

    explicit Simulator(int p) : port(p)
    {
        static int serial = 0;  // a file of its own per simulator: no old text read as new
        const std::string stem =
            "/tmp/sim_stream_test." + std::to_string(getpid()) + "." + std::to_string(serial++);
        out = stem + ".log";
        conf = stem + ".conf";
        std::ofstream(out).flush();
        std::string text = slurp(DVRSIM_DEFAULT_CONF);
        const std::string key = "network.listen_port = 5000";
        const size_t at = text.find(key);
        if (at != std::string::npos)
            text.replace(at, key.size(), "network.listen_port = " + std::to_string(port));
        std::ofstream(conf) << text;
        pid = fork();
        if (pid == 0) {
            if (!freopen(out.c_str(), "w", stdout) || dup2(fileno(stdout), 2) < 0)
                _exit(126);
            execl(DVRSIM_PATH, DVRSIM_PATH, "run", "--replace", "--config", conf.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Simulator()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        unlink(out.c_str());
        unlink(conf.c_str());
    }
    std::string log() const { return slurp(out); }
    bool ready() const
    {
        return poll_until([&] { return log().find("dvrsim: streams on") != std::string::npos; });
    }
    // Sends `sig` and returns the exit status, -1 when it does not end in 10 s.
    int stop(int sig)
    {
        kill(pid, sig);
        int st = 0;
        const bool ended = poll_until([&] { return waitpid(pid, &st, WNOHANG) == pid; });
        if (!ended)
            return -1;
        pid = -1;
        return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }
};

// An HTTP GET on a fresh connection; the raw bytes are read by the caller.
struct Connection {
    int fd = -1;
    std::string data;

    Connection(int port, const std::string& target)
    {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            close(fd);
            fd = -1;
            return;
        }
        const std::string req = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        if (send(fd, req.data(), req.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(req.size())) {
            close(fd);
            fd = -1;
        }
    }
    ~Connection()
    {
        if (fd >= 0)
            close(fd);
    }
    // Reads what arrives within `ms`; false once the server closed.
    bool read_for(int ms)
    {
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < until) {
            pollfd p{fd, POLLIN, 0};
            const int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now())
                    .count());
            if (poll(&p, 1, left > 0 ? left : 0) <= 0)
                continue;
            char buf[65536];
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return false;
            data.append(buf, static_cast<size_t>(n));
        }
        return true;
    }
    // Reads until `done` holds on the data, the server closes, or 10 s pass.
    void read_until(const std::function<bool(const std::string&)>& done)
    {
        const auto until = Clock::now() + std::chrono::seconds(10);
        while (!done(data) && Clock::now() < until && read_for(50)) {
        }
    }
    int status() const { return data.size() > 12 ? std::atoi(data.c_str() + 9) : 0; }
    size_t frames() const
    {
        size_t n = 0;
        for (size_t at = 0; (at = data.find("Content-Type: image/jpeg\r\nContent-Length:", at)) !=
                            std::string::npos;
             ++at)
            ++n;
        return n;
    }
    // The `index`-th JPEG picture of a multipart stream (each part arrives
    // as one chunk, so its bytes are contiguous), or empty.
    std::string jpeg(size_t index) const
    {
        size_t at = 0;
        for (size_t i = 0; i <= index; ++i) {
            at = data.find("Content-Length: ", at);
            if (at == std::string::npos)
                return {};
            at += 16;
        }
        const size_t len = std::strtoul(data.c_str() + at, nullptr, 10);
        const size_t start = data.find("\r\n\r\n", at);
        if (start == std::string::npos || data.size() < start + 4 + len)
            return {};
        return data.substr(start + 4, len);
    }
    // The body of a whole response with Content-Length (a still picture).
    std::string body() const
    {
        const size_t start = data.find("\r\n\r\n");
        return start == std::string::npos ? std::string() : data.substr(start + 4);
    }
};

// A decoded picture's luminance.
struct Gray {
    int width = 0, height = 0;
    std::vector<unsigned char> pixels;
};

Gray decode(const std::string& jpeg)
{
    Gray g;
    tjhandle h = tjInitDecompress();
    int sub = 0, space = 0;
    auto* src = reinterpret_cast<const unsigned char*>(jpeg.data());
    if (tjDecompressHeader3(h, src, jpeg.size(), &g.width, &g.height, &sub, &space) == 0) {
        g.pixels.resize(static_cast<size_t>(g.width) * g.height);
        if (tjDecompress2(h, src, jpeg.size(), g.pixels.data(), g.width, 0, g.height, TJPF_GRAY,
                          0) != 0)
            g.pixels.clear();
    }
    tjDestroy(h);
    return g;
}

// Reads `count` characters of the text line at (x, y, scale) by sampling
// the centre of every font dot, as the browser test does; '?' where no
// glyph of "0123456789-: " matches.
std::string read_text(const Gray& g, int x, int y, int scale, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i) {
        unsigned char rows[kGlyphHeight] = {};
        for (int r = 0; r < kGlyphHeight; ++r)
            for (int c = 0; c < kGlyphWidth; ++c) {
                const int px = x + i * kGlyphAdvance * scale + c * scale + scale / 2;
                const int py = y + r * scale + scale / 2;
                if (px < g.width && py < g.height && g.pixels[py * g.width + px] > 128)
                    rows[r] |= static_cast<unsigned char>(1u << (kGlyphWidth - 1 - c));
            }
        char found = '?';
        for (char c : std::string("0123456789-: "))
            if (std::memcmp(rows, sim_glyph(c), kGlyphHeight) == 0)
                found = c;
        text += found;
    }
    return text;
}

std::string camera_of(const Gray& g)
{
    return read_text(g, kCamTextX + 4 * kGlyphAdvance * kCamTextScale, kCamTextY, kCamTextScale, 2);
}

std::string clock_of(const Gray& g)
{
    return read_text(g, kClockTextX, kClockTextY, kClockTextScale, 19);
}

class StreamTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(sim.ready()) << sim.log(); }
    Simulator sim{free_port()};
};

TEST_F(StreamTest, LiveFramesShowTheCameraAtTheStatedRate)
{
    Connection c(sim.port, "/live?cam=2&pass=4711");
    ASSERT_GE(c.fd, 0);
    ASSERT_TRUE(c.read_for(3000));
    EXPECT_EQ(200, c.status()) << c.data.substr(0, 200);
    EXPECT_NE(std::string::npos, c.data.find("multipart/x-mixed-replace; boundary=dvrsimframe"));
    // 10 a second for 3 s, with room for a loaded machine.
    EXPECT_GE(c.frames(), 20u);
    EXPECT_LE(c.frames(), 32u);
    const Gray first = decode(c.jpeg(0)), later = decode(c.jpeg(c.frames() - 2));
    ASSERT_EQ(kPictureWidth, first.width);
    ASSERT_EQ(kPictureHeight, first.height);
    EXPECT_EQ("02", camera_of(first));
    EXPECT_EQ("02", camera_of(later));
    EXPECT_NE(first.pixels, later.pixels) << "the picture moves";
    // The clock is the device clock: the machine's time while nobody set it.
    const std::string clock = clock_of(first);
    const time_t now = time(nullptr);
    struct tm tm {};
    localtime_r(&now, &tm);
    char today[16];
    strftime(today, sizeof today, "%Y-%m-%d", &tm);
    EXPECT_EQ(today, clock.substr(0, 10)) << clock;
}

TEST_F(StreamTest, PlaybackStartsAtTheSecondAskedForAndRunsOn)
{
    Connection c(sim.port, "/playback?cam=5&year=2021&month=2&day=12&sec=86398&pass=4711");
    c.read_until([&](const std::string&) { return c.frames() > 21; });
    ASSERT_GT(c.frames(), 21u) << c.data.substr(0, 400) << sim.log();
    EXPECT_EQ("05", camera_of(decode(c.jpeg(0))));
    EXPECT_EQ("2021-02-12 23:59:58", clock_of(decode(c.jpeg(0))));
    EXPECT_EQ("2021-02-12 23:59:59", clock_of(decode(c.jpeg(10))));
    // Within the recording's day, as the playback page counts.
    EXPECT_EQ("2021-02-12 00:00:00", clock_of(decode(c.jpeg(20))));

    Connection still(sim.port,
                     "/playback?cam=20&year=2127&month=15&day=31&sec=0&pass=4711&still=1");
    still.read_until([](const std::string& d) { return d.find("\r\n\r\n") != std::string::npos; });
    still.read_for(300);
    EXPECT_NE(std::string::npos, still.data.find("Content-Type: image/jpeg"));
    const Gray g = decode(still.body());
    EXPECT_EQ("20", camera_of(g));
    EXPECT_EQ("2127-15-31 00:00:00", clock_of(g));
}

TEST_F(StreamTest, RequestsWithoutThePasscodeOrWithBadFieldsAreRefused)
{
    const std::pair<const char*, int> cases[] = {
        {"/live?cam=1", 403},
        {"/live?cam=1&pass=", 403},
        {"/live?cam=1&pass=0000", 403},
        {"/live?cam=1&pass=47111", 403},
        {"/playback?cam=1&year=2021&month=2&day=12&sec=0&pass=471", 403},
        {"/live?cam=0&pass=4711", 400},
        {"/live?cam=21&pass=4711", 400},
        {"/live?cam=x&pass=4711", 400},
        {"/playback?cam=1&year=2021&month=2&day=12&sec=86400&pass=4711", 400},
        {"/playback?cam=1&year=1999&month=2&day=12&sec=0&pass=4711", 400},
        {"/playback?cam=1&pass=4711", 400},
        {"/other?cam=1&pass=4711", 404},
    };
    for (const auto& [target, status] : cases) {
        Connection c(sim.port, target);
        c.read_until([](const std::string& d) { return d.find("\r\n\r\n") != std::string::npos; });
        EXPECT_EQ(status, c.status()) << target << "\n" << c.data.substr(0, 300);
        EXPECT_EQ(std::string::npos, c.data.find("image/jpeg")) << target;
    }
}

TEST_F(StreamTest, MessageLoopAnswersWhileEightStreamsRunAndTheClockReachesThePictures)
{
    std::vector<std::unique_ptr<Connection>> streams;
    for (int cam = 1; cam <= 8; ++cam)
        streams.push_back(std::make_unique<Connection>(
            sim.port, "/live?cam=" + std::to_string(cam) + "&pass=4711"));
    for (auto& s : streams)
        ASSERT_TRUE(s->read_for(200));

    // A clock request through the queue, as a CGI program sends it.
    SimDevice dev{};
    std::string err;
    ASSERT_TRUE(sim_device_attach(dev, err)) << err;
    struct tm want {};
    want.tm_year = 2030 - 1900;
    want.tm_mon = 0;
    want.tm_mday = 2;
    want.tm_hour = 3;
    want.tm_min = 4;
    want.tm_sec = 5;
    want.tm_isdst = -1;
    const time_t to = mktime(&want);
    const auto sent = Clock::now();
    ASSERT_EQ(0, set_system_time(dev.cfg, dev.semid, dev.msgid, static_cast<uint32_t>(to)));
    ASSERT_TRUE(poll_until([&] { return sim.log().find("(set clock)") != std::string::npos; }))
        << sim.log();
    EXPECT_LT(Clock::now() - sent, std::chrono::seconds(2)) << "message loop slow to answer";
    sim_device_detach(dev);

    for (auto& s : streams)
        ASSERT_TRUE(s->read_for(300));
    // A picture started after the request shows the new clock.
    Connection still(sim.port, "/live?cam=3&pass=4711&still=1");
    still.read_until([](const std::string& d) { return d.find("\r\n\r\n") != std::string::npos; });
    still.read_for(300);
    const std::string clock = clock_of(decode(still.body()));
    EXPECT_EQ("2030-01-02 03:0", clock.substr(0, 15)) << clock;
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(std::to_string(100 + i + 1).substr(1), camera_of(decode(streams[i]->jpeg(0))));
}

TEST_F(StreamTest, TooManyStreamsAreRefusedAndClosedOnesFreeTheirPlace)
{
    std::vector<std::unique_ptr<Connection>> streams;
    for (int i = 0; i < kSimStreamMax; ++i)
        streams.push_back(std::make_unique<Connection>(sim.port, "/live?cam=1&pass=4711"));
    for (auto& s : streams) {
        s->read_until(
            [](const std::string& d) { return d.find("image/jpeg") != std::string::npos; });
        ASSERT_EQ(200, s->status());
    }
    Connection extra(sim.port, "/live?cam=1&pass=4711");
    extra.read_until([](const std::string& d) { return d.find("\r\n\r\n") != std::string::npos; });
    EXPECT_EQ(503, extra.status());
    streams.pop_back();  // the client goes away; the server notices at its next frame
    ASSERT_TRUE(poll_until([&] {
        Connection again(sim.port, "/live?cam=1&pass=4711");
        again.read_until(
            [](const std::string& d) { return d.find("\r\n\r\n") != std::string::npos; });
        return again.status() == 200;
    }));
}

void stops_cleanly(Simulator& sim, int sig)
{
    std::vector<std::unique_ptr<Connection>> streams;
    for (int cam = 1; cam <= 3; ++cam)
        streams.push_back(std::make_unique<Connection>(
            sim.port, "/live?cam=" + std::to_string(cam) + "&pass=4711"));
    for (auto& s : streams)
        ASSERT_TRUE(s->read_for(300));
    const auto sent = Clock::now();
    EXPECT_EQ(0, sim.stop(sig)) << sim.log();
    EXPECT_LT(Clock::now() - sent, std::chrono::seconds(5));
    const std::string log = sim.log();
    EXPECT_NE(std::string::npos, log.find("stopped, objects removed")) << log;
    EXPECT_NE(std::string::npos, log.find("(0 open)")) << log;
    for (auto& s : streams)
        s->read_until([](const std::string&) { return false; });  // ends at the close
    Connection after(sim.port, "/live?cam=1&pass=4711");
    EXPECT_LT(after.fd, 0) << "port still open";
    SimDevice dev{};
    std::string err;
    EXPECT_FALSE(sim_device_attach(dev, err)) << "objects left";
}

TEST_F(StreamTest, StopsCleanlyOnSigtermWithStreamsOpen)
{
    stops_cleanly(sim, SIGTERM);
}

TEST_F(StreamTest, StopsCleanlyOnSigintWithStreamsOpen)
{
    stops_cleanly(sim, SIGINT);
}

}  // namespace
