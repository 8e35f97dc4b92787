// zelbrowser_unit_test.cpp - the viewer's access rule and id decoding, and the
// page writers' markers and information blocks (date-time format choice
// included), run in-process with the response in a memory stream.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <tuple>

#include "Zelbrowser.h"
#include "cgi_request.h"

namespace {

TEST(AccessRule, Table)
{
    const std::tuple<unsigned char, int, int> cases[] = {
        {0, 255, 1}, {1, 2, 1}, {1, 3, 0}, {2, 1, 1},   {2, 2, 0},
        {3, 0, 1},   {3, 1, 0}, {4, 0, 0}, {255, 0, 0},
    };
    for (const auto& [setting, level, expected] : cases)
        EXPECT_EQ(hasAccess(setting, level), expected) << int(setting) << " " << level;
}

constexpr unsigned kBad = static_cast<unsigned>(-1);

// Ids the end-to-end table does not send: at most 11 characters take part, as
// after the handler's cut.
TEST(IdDecoding, Table)
{
    const std::tuple<const char*, int, unsigned, unsigned> cases[] = {
        {"FFFF2000001", 20, 0xFFFF, 1},
        {"0000010003c", 1, 0, 81},  // time characters count by code: 3*10 + ('c'-'0')
        {"2G4C0300000", 3, kBad, 0},
        {"2A4C03", 3, 0x2A4C, kBad},       // NUL time digits count as -48
        {"2A4C038000", 3, 0x2A4C, 79952},  // 80000 - 48 still a valid second
        {"000:0100000", 1, kBad, 0},       // ':' follows '9' but is no hex digit
        // Bytes count by their unsigned code whatever the signedness of char.
        {"2A4C0\26300000", -1, 0x2A4C, 0},  // 0 * 10 + 131
        {"2A4C030000\xB0", 3, 0x2A4C, 128},
    };
    for (const auto& [text, cam, day, time] : cases) {
        char id[12] = {};
        std::strncpy(id, text, sizeof id - 1);
        EXPECT_EQ(getCmr(id), cam) << text;
        EXPECT_EQ(getDate(id), day) << text;
        EXPECT_EQ(getTime(id), time) << text;
    }
}

// Runs a page writer on `templ` (written as `file` into a scratch folder)
// and returns the response it wrote.
template <typename Writer>
std::string written(const char* file, const std::string& templ, Writer writer)
{
    char dir[] = "/tmp/zelpage.XXXXXX";
    char cwd[4096];
    EXPECT_TRUE(mkdtemp(dir) && getcwd(cwd, sizeof cwd) && chdir(dir) == 0);
    std::ofstream(file) << templ;
    FILE* saved = cgiOut;
    char* buf = nullptr;
    size_t size = 0;
    cgiOut = open_memstream(&buf, &size);
    EXPECT_EQ(writer(), 0);
    std::fclose(cgiOut);
    cgiOut = saved;
    const std::string out(buf, size);
    std::free(buf);
    std::remove(file);
    EXPECT_TRUE(chdir(cwd) == 0 && rmdir(dir) == 0);
    return out;
}

const std::string kLang = "<script src='language/0.js' type='text/javascript'></script>\n";

// Marker lines of the live template at 4 cameras, each replaced whole (the
// information block wins over the other markers on its line), also in a
// template larger than one read whose pieces, markers and long lines
// straddle the reader's internal blocks.
TEST(PageWriter, MarkersReplaceWholePiece)
{
    zelRequest req{};
    req.netSetting.ip_advanced.listen_port = 65535;
    req.netSetting.ip_advanced.tcp_control_port = 1;
    std::memcpy(req.netSetting.ip_settings.ethernet_password, "abcde", 5);
    req.g_channelAmt = 4;
    req.g_model = 200;
    req.g_brand = 7;
    req.time_date.date_format = 3;  // none: month/day/year
    req.time_date.time_format = 1;
    unsigned char list[ZEL_COVERT_CAMERAS] = {1};
    list[19] = 255;
    std::string info =
        "\t\tg_conn_port=\"65535\";\n\t\tm_port=1;\n\t\tg_conn_pass=\"abcd\";\n"
        "\t\tg_covert_access=1;\n\t\tg_frontpanel_access=0;\n\t\ttop.m_CameraCount=4;\n"
        "\t\ttop.m_ModelName=200;\n\t\ttop.m_pType=7;\n\t\ttop.logType(200);\n"
        "\t\tdt_format = \"%m/%d/%y %I:%M:%S %p\";\n";
    for (int i = 0; i < 20; ++i)
        info += "\t\tg_covert_list[" + std::to_string(i) + "]=" + std::to_string(list[i]) + ";\n";
    const std::string pad(250, 'x'), line = std::string(99, 'a') + "\n";
    std::string large, expected;
    for (int round = 0; round < 4; ++round) {  // about 70 KiB of short lines each time round
        for (int i = 0; i < 700 + round; ++i)
            large += line;
        expected = large;
        if (round < 3)
            large += std::string(1000, 'b') + "\n<!-- Language -->\n" + std::string(510, 'c') +
                     "<!-- Language -->" + std::string(40, 'd') + "\n";
    }
    for (size_t at; (at = expected.find("<!-- Language -->")) != std::string::npos;)
        expected.replace(at, expected.find('\n', at) + 1 - at, kLang);
    const std::pair<std::string, std::string> cases[] = {
        {"a <!-- Language --> b\n", kLang},
        {"<!-- Channels -->\n", ""},                      // no cells past the fourth camera
        {"<!-- Channels --><!-- Language -->\n", kLang},  // language wins over channels
        {pad + "<!-- Language -->\n", pad + "<!-- Language -->\n"},  // split across pieces
        {"end", "end"},                                              // no final newline
        {std::string("ab\0<!-- Language -->\ncd\n", 24), "abcd\n"},  // text ends at a NUL
        {"<!-- Language --> <!-- Channels --> <!-- information -->\n", info},
        {large, expected},
    };
    for (const auto& [templ, want] : cases)
        EXPECT_EQ(written("ZelBrowser.htm", templ, [&] { return showIndexHtml(&req, 0, 1, list); }),
                  want)
            << templ.substr(0, 60);
}

}  // namespace
