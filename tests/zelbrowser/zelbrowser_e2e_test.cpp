// zelbrowser_e2e_test.cpp - the built zelbrowser.cgi run as a web server would
// against the simulator: whole response, exit status, standard error and
// request trace compared byte for byte, each suite in its own IPC and /var/www
// namespace. An unwritable trace folder is tested in tests/faults.
#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"

using namespace testproc;

namespace {

const char* const kTrace = "/var/www/cgidebug";
const std::string kHeader = "Content-type: text/html\r\n\r\n";

// The device the tests configure; the expected pages are built from these.
// Language 3 is set, yet the pages always name language 0: the handler
// ignores the setting. Covert: analog 3 (1), analog 16 (4), IP camera 2 (1).
const char* const kConfig =
    "model.code = 9\nmodel.channels = 16\nmodel.brand = 4\nnetwork.ethernet_password = 9876\n"
    "network.tcp_control_port = 6001\nnetwork.listen_port = 6000\ntime.date_format = 2\n"
    "time.time_format = 1\nlanguage = 3\nuser.1 = admin admin 0 1\nuser.2 = manager manager 1 1\n"
    "user.3 = operator operator 2 1\nuser.4 = guest guest 3 1\nuser.5 = former former 1 0\n"
    "camera.analog.3.covert = 1\ncamera.analog.16.covert = 4\ncamera.ip.2.covert = 1\n";

struct Request {
    const char* user;  // REMOTE_USER; nullptr leaves it unset
    const char* method = "GET";
    std::string query = "", body = "";  // a body is sent urlencoded with its length
    const char* length = nullptr;       // declared length; nullptr: the body's own
    std::string cwd = ZEL_WEB_DIR;
};

// Runs the program once for `r`, with the trace file removed first.
Outcome runCgi(const Request& r)
{
    std::remove(kTrace);
    Launch l{{ZEL_CGI}};
    l.env = cgiEnv(r.user, r.method, r.query);
    if (!r.body.empty()) {
        l.env.push_back("CONTENT_TYPE=application/x-www-form-urlencoded");
        l.env.push_back("CONTENT_LENGTH=" + (r.length ? r.length : std::to_string(r.body.size())));
    }
    l.cwd = r.cwd;
    l.stdinFd = inputFd(r.body);
    const Outcome o = run(l);
    close(l.stdinFd);
    return o;
}

// The trace the request layer leaves for `r`; a refused POST body fails.
std::string traced(const Request& r, int status)
{
    if (r.body.empty())
        return "cgiContentLength: 0\nGET\n\nGetFormInput succeeded\n";
    return "cgiContentLength: " + (r.length ? r.length : std::to_string(r.body.size())) +
           "\nPOST\napplication/x-www-form-urlencoded\nPOST recognized\nCalling PostFormInput\n"
           "PostFormInput " +
           (status ? "failed\n" : "succeeded\n");
}

// The template with each whole marker line replaced by `replace(marker)`.
template <typename Replace>
std::string fromTemplate(const char* file, const std::vector<std::string>& markers, Replace replace)
{
    std::istringstream in(readFile(std::string(ZEL_WEB_DIR) + "/" + file));
    std::string page, line;
    size_t found = 0;
    while (std::getline(in, line)) {
        const bool marker = std::count(markers.begin(), markers.end(), line) > 0;
        found += marker;
        page += marker ? replace(line) : line + "\n";
    }
    EXPECT_EQ(found, markers.size()) << file << " lacks a marker line";
    return page;
}

const std::string kLanguage = "<script src='language/0.js' type='text/javascript'></script>\n";
const std::string kDevice =
    "\t\tg_conn_port=\"6000\";\n\t\tm_port=6001;\n\t\tg_conn_pass=\"9876\";\n";
const std::string kDtFormat = "\t\tdt_format = \"%y/%m/%d %I:%M:%S %p\";\n";

// The live page for a user with front panel and covert access as given.
std::string live(int frontpanel, int covert)
{
    return fromTemplate(
        "ZelBrowser.htm", {"<!-- information -->", "<!-- Language -->", "<!-- Channels -->"},
        [&](const std::string& m) {
            std::string s;
            if (m == "<!-- Language -->")
                return kLanguage;
            for (int i = 4; m == "<!-- Channels -->" && i < 16; ++i)
                s +=
                    "\t\t<td>\n\t\t<table cellspacing=0 width=25px height=70px "
                    "style='font-size:7pt;color: #888888'>\n\t\t<tr>\n\t\t<td>\n\t\t" +
                    std::to_string(i + 1) +
                    "\n\t\t</td>\n\t\t</tr>\n\t\t<tr height=25px>\n\t\t<td align=center>\n\t\t<img "
                    "src='images/Channels/sNone.jpg' border=0 name='rImage' onclick='switch_cam(" +
                    std::to_string(i) +
                    ")'>\n\t\t</td>\n\t\t</tr>\n\t\t<tr>\n\t\t<td>\n\t\t&nbsp;\n\t\t</td>\n\t\t</"
                    "tr>\n\t\t</table>\n\t\t</td>\n";
            if (m == "<!-- Channels -->")
                return s;
            s = kDevice + "\t\tg_covert_access=" + std::to_string(covert) +
                ";\n\t\tg_frontpanel_access=" + std::to_string(frontpanel) +
                ";\n\t\ttop.m_CameraCount=16;\n\t\ttop.m_ModelName=9;\n\t\ttop.m_pType=4;\n\t\t"
                "top.logType(9);\n" +
                kDtFormat;
            const std::string hidden = "00100000000000040100";  // kConfig's covert values
            for (int i = 0; i < 20; ++i)
                s += "\t\tg_covert_list[" + std::to_string(i) + "]=" + (covert ? '0' : hidden[i]) +
                     ";\n";
            return s;
        });
}

// The playback page for an operator; `when` is the seven m_ lines' values:
// cam index, year, month, date, hour, minute, second.
std::string pb(const std::vector<int>& when)
{
    return fromTemplate(
        "Playback.htm", {"<!-- Information -->", "<!-- Language -->"}, [&](const std::string& m) {
            if (m == "<!-- Language -->")
                return kLanguage;
            std::string s;
            const char* names[] = {"cam", "year", "month", "date", "hour", "min", "sec"};
            for (int i = 0; i < 7; ++i)
                s += std::string("\t\tm_") + names[i] + "=" + std::to_string(when[i]) + "\n";
            return s + kDevice +
                   "\t\tg_covert_access=0;\n\t\tm_CameraCount=16;\n\t\tm_ModelName=9;\n\t\ttop.m_"
                   "pType=4;\n" +
                   kDtFormat;
        });
}

// One row per request: the whole response, exit status and standard error
// expected, under the access settings given.
TEST(WithSimulator, Requests)
{
    const std::string path = "/tmp/zel-e2e.conf." + std::to_string(getpid());
    std::ofstream(path) << kConfig;
    Simulator sim;
    ASSERT_TRUE(sim.start({"--config", path, "--replace"}));
    std::remove(path.c_str());
    const std::string H = kHeader, bad = H + "Invalid argument.";
    const struct {
        Request request;
        std::string out;
        int status = 0;
        std::string err = "";
        const char* access = "32";  // security.front_panel and security.covert, one digit each
    } cases[] = {
        {{"admin"}, H + live(1, 1)},
        {{"manager", "GET", "id="}, H + live(0, 1)},
        {{"guest"}, H + live(1, 0), 0, "", "01"},
        {{"admin"}, H + live(0, 0), 0, "", "44"},
        {{"operator", "GET", "id=2A4C0300000"}, H + pb({2, 2021, 2, 12, 0, 0, 0})},
        {{"operator", "GET", "id=2a4c2086399"}, H + pb({19, 2021, 2, 12, 23, 59, 59})},
        {{"operator", "POST", "", "id=0021010000%31"}, H + pb({0, 2000, 1, 1, 0, 0, 1})},
        {{"operator", "GET", "id=2A4C0386400"}, bad},
        {{"nobody"}, H, 255},
        {{"former"}, H, 255},
        {{nullptr}, H, 255},
        {{"admin", "POST", "", "id=2A4C0300000", nullptr, "/"},
         H,
         0,
         "Playback.htm file not found !\n"},
        {{"admin", "POST", "", "id=2A4C0300000", "20"}, "", 255},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.request.user << " " << c.request.query << c.request.body);
        ASSERT_EQ(dvrsimSet("security.front_panel", std::string(1, c.access[0])), 0);
        ASSERT_EQ(dvrsimSet("security.covert", std::string(1, c.access[1])), 0);
        const Outcome res = runCgi(c.request);
        EXPECT_EQ(res.status, c.status);
        EXPECT_EQ(res.out, c.out);
        EXPECT_EQ(res.err, c.err);
        EXPECT_EQ(readFile(kTrace), traced(c.request, c.status));
    }
}

// Without the simulator the device objects appear one by one, as the device
// service would create them: each missing one is reported by name.
TEST(NoSimulator, HeaderAndReport)
{
    int queue = -1, segment = -1;
    for (const char* missing : {"message queue", "shm", "semaphore"}) {
        const Outcome res = runCgi({"admin"});
        EXPECT_EQ(res.status, 255);
        EXPECT_EQ(res.out, kHeader);
        EXPECT_EQ(res.err, "Info ---- Create " + std::string(missing) +
                               " failed.: No such file or directory\n");
        if (queue < 0)
            queue = msgget(1632, IPC_CREAT | 0666);
        else
            segment = shmget(1632, 32768, IPC_CREAT | 0666);
    }
    msgctl(queue, IPC_RMID, nullptr);
    shmctl(segment, IPC_RMID, nullptr);
}

}  // namespace
