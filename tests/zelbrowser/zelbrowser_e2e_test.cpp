// zelbrowser_e2e_test.cpp - runs the built zelbrowser.cgi as a web server
// would (CGI environment, body on stdin, templates in the working directory)
// against a running device simulator, and compares the complete response,
// exit status, standard error and request trace byte for byte. Each suite
// runs in its own IPC and /var/www namespace (see CMakeLists.txt).
#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/mount.h>
#include <sys/msg.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"

using namespace testproc;

namespace {

constexpr key_t kDeviceKey = 1632;
const char* const kTrace = "/var/www/cgidebug";
const std::string kHeader = "Content-type: text/html\r\n\r\n";

// The device the tests configure; the expected pages are built from these.
const char* const kConfig =
    "model.code = 9\nmodel.channels = 16\nmodel.brand = 4\n"
    "network.ethernet_password = 9876\n"
    "network.tcp_control_port = 6001\nnetwork.listen_port = 6000\n"
    "time.date_format = 2\ntime.time_format = 1\n"
    "language = 3\n"  // the pages always name language 0: the handler ignores it
    "security.front_panel = 3\nsecurity.covert = 2\n"
    "user.1 = admin admin 0 1\nuser.2 = manager manager 1 1\n"
    "user.3 = operator operator 2 1\nuser.4 = guest guest 3 1\n"
    "user.5 = former former 1 0\n"
    "camera.analog.3.covert = 1\ncamera.analog.16.covert = 4\ncamera.ip.2.covert = 1\n";
constexpr int kChannels = 16;
const int kCovertIndex[] = {2, 15, 17};
const int kCovertValue[] = {1, 4, 1};

struct Request {
    const char* user = nullptr;  // REMOTE_USER; nullptr leaves it unset
    const char* method = "GET";
    std::string query;
    std::string body;                     // urlencoded POST body
    const char* contentLength = nullptr;  // with a body: its declared length
    std::string cwd = ZEL_WEB_DIR;
};

// Runs the program once for `r`, with the trace file removed first.
Outcome runCgi(const Request& r)
{
    std::remove(kTrace);
    Launch l{{ZEL_CGI}};
    l.env = cgiEnv(r.user, r.method, r.query);
    if (r.contentLength) {
        l.env.push_back("CONTENT_TYPE=application/x-www-form-urlencoded");
        l.env.push_back(std::string("CONTENT_LENGTH=") + r.contentLength);
    }
    l.cwd = r.cwd;
    l.stdinFd = inputFd(r.body);
    const Outcome o = run(l);
    close(l.stdinFd);
    return o;
}

// The trace the request layer leaves for a request without a content type.
std::string trace(int length, const char* method, const char* result)
{
    return "cgiContentLength: " + std::to_string(length) + "\n" + method + "\n\n" + result;
}

// ---- Expected pages, built from the template files and kConfig ----

struct Access {
    int frontpanel;  // expected g_frontpanel_access
    int covert;      // expected g_covert_access
};

const std::string kLanguage = "<script src='language/0.js' type='text/javascript'></script>\n";
const std::string kDtFormat = "\t\tdt_format = \"%y/%m/%d %I:%M:%S %p\";\n";
const std::string kConnection =
    "\t\tg_conn_port=\"6000\";\n\t\tm_port=6001;\n\t\tg_conn_pass=\"9876\";\n";

std::string covertList(int covertAccess)
{
    std::string s;
    for (int i = 0; i < 20; ++i) {
        int v = 0;
        for (size_t k = 0; k < sizeof kCovertIndex / sizeof kCovertIndex[0]; ++k)
            if (!covertAccess && kCovertIndex[k] == i)
                v = kCovertValue[k];
        s += "\t\tg_covert_list[" + std::to_string(i) + "]=" + std::to_string(v) + ";\n";
    }
    return s;
}

std::string channelCell(int index)
{
    const std::string n = std::to_string(index + 1);
    const std::string i = std::to_string(index);
    return "\t\t<td>\n\t\t<table cellspacing=0 width=25px height=70px style='font-size:7pt;color: "
           "#888888'>\n\t\t<tr>\n\t\t<td>\n\t\t" +
           n +
           "\n\t\t</td>\n\t\t</tr>\n\t\t<tr height=25px>\n\t\t<td align=center>\n\t\t<img "
           "src='images/Channels/sNone.jpg' border=0 name='rImage' onclick='switch_cam(" +
           i +
           ")'>\n\t\t</td>\n\t\t</tr>\n\t\t<tr>\n\t\t<td>\n\t\t&nbsp;\n\t\t</td>\n\t\t</tr>\n\t\t</"
           "table>\n\t\t</td>\n";
}

// The template with each whole marker line replaced by `replace(marker)`.
template <typename Replace>
std::string fromTemplate(const char* file, const std::vector<std::string>& markers, Replace replace)
{
    std::istringstream in(readFile(std::string(ZEL_WEB_DIR) + "/" + file));
    std::string page, line;
    int found = 0;
    while (std::getline(in, line)) {
        bool replaced = false;
        for (const std::string& m : markers)
            if (line == m) {
                page += replace(m);
                replaced = true;
                ++found;
            }
        if (!replaced)
            page += line + "\n";
    }
    EXPECT_EQ(found, static_cast<int>(markers.size())) << file << " lacks a marker line";
    return page;
}

std::string expectedLive(Access a, int channels = kChannels)
{
    return fromTemplate(
        "ZelBrowser.htm", {"<!-- information -->", "<!-- Language -->", "<!-- Channels -->"},
        [&](const std::string& m) -> std::string {
            if (m == "<!-- Language -->")
                return kLanguage;
            if (m == "<!-- Channels -->") {
                std::string cells;
                for (int i = 4; i < channels; ++i)
                    cells += channelCell(i);
                return cells;
            }
            return kConnection + "\t\tg_covert_access=" + std::to_string(a.covert) +
                   ";\n\t\tg_frontpanel_access=" + std::to_string(a.frontpanel) +
                   ";\n\t\ttop.m_CameraCount=" + std::to_string(channels) +
                   ";\n\t\ttop.m_ModelName=9;\n\t\ttop.m_pType=4;\n\t\ttop.logType(9);\n" +
                   kDtFormat + covertList(a.covert);
        });
}

// `when` is the seven m_ lines' values: cam index, year, month, date, h, m, s.
std::string expectedPlayback(int covert, const std::vector<int>& when)
{
    return fromTemplate(
        "Playback.htm", {"<!-- Information -->", "<!-- Language -->"},
        [&](const std::string& m) -> std::string {
            if (m == "<!-- Language -->")
                return kLanguage;
            const char* names[] = {"cam", "year", "month", "date", "hour", "min", "sec"};
            std::string s;
            for (int i = 0; i < 7; ++i)
                s += std::string("\t\tm_") + names[i] + "=" + std::to_string(when[i]) + "\n";
            return s + kConnection + "\t\tg_covert_access=" + std::to_string(covert) +
                   ";\n\t\tm_CameraCount=16;\n\t\tm_ModelName=9;\n\t\ttop.m_pType=4;\n" + kDtFormat;
        });
}

// ---- Suites that need the simulator ----

class WithSimulator : public ::testing::Test {
  protected:
    static void SetUpTestSuite()
    {
        char path[] = "/tmp/zel-e2e-conf.XXXXXX";
        const int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, kConfig, std::strlen(kConfig)),
                  static_cast<ssize_t>(std::strlen(kConfig)));
        close(fd);
        sim_ = new Simulator;
        ASSERT_TRUE(sim_->start({"--config", path, "--replace"}));
    }
    static void TearDownTestSuite() { delete sim_; }
    static Simulator* sim_;
};
Simulator* WithSimulator::sim_ = nullptr;

struct LiveCase {
    const char* name;
    const char* user;
    const char* frontPanelSetting;
    const char* covertSetting;
    Access expected;
    const char* query;  // an empty id also gets the live page
};

class Live : public WithSimulator, public ::testing::WithParamInterface<LiveCase> {};

TEST_P(Live, CompletePage)
{
    const LiveCase& c = GetParam();
    ASSERT_EQ(dvrsimSet("security.front_panel", c.frontPanelSetting), 0);
    ASSERT_EQ(dvrsimSet("security.covert", c.covertSetting), 0);
    Request r;
    r.user = c.user;
    r.query = c.query;
    const Outcome res = runCgi(r);
    EXPECT_EQ(res.status, 0);
    EXPECT_EQ(res.err, "");
    EXPECT_EQ(res.out, kHeader + expectedLive(c.expected));
    EXPECT_EQ(readFile(kTrace), trace(0, "GET", "GetFormInput succeeded\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Users, Live,
    ::testing::Values(LiveCase{"admin", "admin", "3", "2", {1, 1}, ""},
                      LiveCase{"managerEmptyId", "manager", "3", "2", {0, 1}, "id="},
                      LiveCase{"operatorHidden", "operator", "3", "2", {0, 0}, ""},
                      LiveCase{"guestCovert1", "guest", "0", "1", {1, 0}, ""},
                      LiveCase{"adminNobody", "admin", "4", "4", {0, 0}, ""}),
    [](const ::testing::TestParamInfo<LiveCase>& i) { return std::string(i.param.name); });

struct PlaybackCase {
    const char* name;
    const char* method;
    const char* query;      // GET query string
    std::string body;       // POST body (urlencoded)
    std::vector<int> when;  // empty: "Invalid argument." expected
};

class Playback : public WithSimulator, public ::testing::WithParamInterface<PlaybackCase> {};

// The id's decoding has its own unit table; these cases follow its path
// from either method to the page.
TEST_P(Playback, CompleteResponse)
{
    const PlaybackCase& c = GetParam();
    ASSERT_EQ(dvrsimSet("security.covert", "2"), 0);
    Request r;
    r.user = "operator";
    r.method = c.method;
    r.query = c.query;
    r.body = c.body;
    const std::string length = std::to_string(c.body.size());
    if (!c.body.empty())
        r.contentLength = length.c_str();
    const Outcome res = runCgi(r);
    EXPECT_EQ(res.status, 0);
    EXPECT_EQ(res.err, "");
    EXPECT_EQ(res.out,
              kHeader + (c.when.empty() ? "Invalid argument." : expectedPlayback(0, c.when)));
}

INSTANTIATE_TEST_SUITE_P(
    Ids, Playback,
    ::testing::Values(
        PlaybackCase{"example", "GET", "id=2A4C0300000", "", {2, 2021, 2, 12, 0, 0, 0}},
        PlaybackCase{"lastSecond", "GET", "id=2a4c2086399", "", {19, 2021, 2, 12, 23, 59, 59}},
        PlaybackCase{"longIdCut", "GET", "x=1&id=FFFF0100061999", "", {0, 2127, 15, 31, 0, 1, 1}},
        PlaybackCase{"post", "POST", "", "id=0021010000%31", {0, 2000, 1, 1, 0, 0, 1}},
        PlaybackCase{"second86400", "GET", "id=2A4C0386400", "", {}},
        PlaybackCase{"camera21", "GET", "id=2A4C2100000", "", {}}),
    [](const ::testing::TestParamInfo<PlaybackCase>& i) { return std::string(i.param.name); });

struct RefusedCase {
    const char* name;
    Request request;
    std::string out;
    std::string err;
    int status;
    std::string trace;
};

class Refused : public WithSimulator, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(Refused, Response)
{
    const RefusedCase& c = GetParam();
    const Outcome res = runCgi(c.request);
    EXPECT_EQ(res.status, c.status);
    EXPECT_EQ(res.out, c.out);
    EXPECT_EQ(res.err, c.err);
    EXPECT_EQ(readFile(kTrace), c.trace);
}

Request make(const char* user, const char* method, const char* length, std::string body,
             const char* cwd = ZEL_WEB_DIR)
{
    Request r;
    r.user = user;
    r.method = method;
    r.body = std::move(body);
    r.contentLength = length;
    r.cwd = cwd;
    return r;
}

std::string postTrace(const char* length, const char* result)
{
    return std::string("cgiContentLength: ") + length +
           "\nPOST\napplication/x-www-form-urlencoded\nPOST recognized\nCalling PostFormInput\n" +
           result;
}

const std::string kGetTrace = trace(0, "GET", "GetFormInput succeeded\n");

INSTANTIATE_TEST_SUITE_P(
    Cases, Refused,
    ::testing::Values(
        RefusedCase{"unknownUser", make("nobody", "GET", nullptr, ""), kHeader, "", 255, kGetTrace},
        RefusedCase{"disabledUser", make("former", "GET", nullptr, ""), kHeader, "", 255,
                    kGetTrace},
        RefusedCase{"noUser", make(nullptr, "GET", nullptr, ""), kHeader, "", 255, kGetTrace},
        RefusedCase{"missingTemplate", make("admin", "GET", nullptr, "", "/"), kHeader,
                    "ZelBrowser.htm file not found !\n", 0, kGetTrace},
        RefusedCase{"missingPlaybackTemplate", make("admin", "POST", "14", "id=2A4C0300000", "/"),
                    kHeader, "Playback.htm file not found !\n", 0,
                    postTrace("14", "PostFormInput succeeded\n")},
        RefusedCase{"shortBody", make("admin", "POST", "20", "id=2A4C0300000"), "", "", 255,
                    postTrace("20", "PostFormInput failed\n")}),
    [](const ::testing::TestParamInfo<RefusedCase>& i) { return std::string(i.param.name); });

// A trace folder that is read-only or missing (a tmpfs laid over it in this
// test's own mount namespace) leaves the page as it is, and no trace.
TEST_F(WithSimulator, TraceSkipped)
{
    ASSERT_EQ(dvrsimSet("security.front_panel", "3"), 0);
    ASSERT_EQ(dvrsimSet("security.covert", "2"), 0);
    const struct {
        const char* over;
        unsigned long flags;
    } dirs[] = {{"/var/www", MS_RDONLY}, {"/var", 0}};
    for (const auto& d : dirs) {
        std::remove(kTrace);
        ASSERT_EQ(mount("zeltrace", d.over, "tmpfs", d.flags, nullptr), 0) << d.over;
        Request r;
        r.user = "admin";
        const Outcome res = runCgi(r);
        umount2(d.over, MNT_DETACH);
        EXPECT_EQ(res.status, 0) << d.over;
        EXPECT_EQ(res.err, "") << d.over;
        EXPECT_EQ(res.out, kHeader + expectedLive({1, 1})) << d.over;
        EXPECT_EQ(access(kTrace, F_OK), -1) << d.over;
    }
}

// ---- Without the simulator: the device objects appear one by one ----

// Creates key-1632 objects the way the device service would, removed on exit.
class DeviceObjects {
  public:
    ~DeviceObjects()
    {
        if (msg_ >= 0)
            msgctl(msg_, IPC_RMID, nullptr);
        if (shm_ >= 0)
            shmctl(shm_, IPC_RMID, nullptr);
    }
    void addQueue() { msg_ = msgget(kDeviceKey, IPC_CREAT | 0666); }
    void addSegment() { shm_ = shmget(kDeviceKey, 32768, IPC_CREAT | 0666); }

  private:
    int msg_ = -1;
    int shm_ = -1;
};

struct MissingCase {
    const char* name;
    int objects;  // 0: none, 1: queue, 2: queue and segment
    const char* report;
};

class NoSimulator : public ::testing::TestWithParam<MissingCase> {};

TEST_P(NoSimulator, HeaderAndReport)
{
    const MissingCase& c = GetParam();
    DeviceObjects dev;
    if (c.objects >= 1)
        dev.addQueue();
    if (c.objects >= 2)
        dev.addSegment();
    Request r;
    r.user = "admin";
    const Outcome res = runCgi(r);
    EXPECT_EQ(res.status, 255);
    EXPECT_EQ(res.out, kHeader);
    EXPECT_EQ(res.err, std::string(c.report) + ": No such file or directory\n");
}

INSTANTIATE_TEST_SUITE_P(
    Objects, NoSimulator,
    ::testing::Values(MissingCase{"noQueue", 0, "Info ---- Create message queue failed."},
                      MissingCase{"noSegment", 1, "Info ---- Create shm failed."},
                      MissingCase{"noSemaphore", 2, "Info ---- Create semaphore failed."}),
    [](const ::testing::TestParamInfo<MissingCase>& i) { return std::string(i.param.name); });

}  // namespace
