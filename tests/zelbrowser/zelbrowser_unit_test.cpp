// zelbrowser_unit_test.cpp - the viewer's pure rules (access, id decoding,
// date-time format choice) and the template copier's marker handling, run
// in-process with the response stream pointed at a temporary file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "Zelbrowser.h"
#include "cgi_request.h"

namespace {

TEST(AccessRule, Table)
{
    const struct {
        unsigned char setting;
        int level, expected;
    } cases[] = {
        {0, 255, 1}, {1, 2, 1}, {1, 3, 0}, {2, 1, 1},   {2, 2, 0},
        {3, 0, 1},   {3, 1, 0}, {4, 0, 0}, {255, 0, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hasAccess(c.setting, c.level), c.expected)
            << "setting " << int(c.setting) << " level " << c.level;
}

constexpr unsigned kBad = static_cast<unsigned>(-1);

TEST(IdDecoding, Table)
{
    const struct {
        const char* id;  // at most 11 characters take part, as after the handler's cut
        int cam;
        unsigned day, time;
    } cases[] = {
        {"2A4C0300000", 3, 0x2A4C, 0},
        {"2a4c0386399", 3, 0x2A4C, 86399},
        {"2A4C0386400", 3, 0x2A4C, kBad},
        {"2A4C0000000", -1, 0x2A4C, 0},
        {"FFFF2000001", 20, 0xFFFF, 1},
        {"0000010003c", 1, 0, 81},  // time characters count by code: 3*10 + ('c'-'0')
        {"2G4C0300000", 3, kBad, 0},
        {"2A4C03", 3, 0x2A4C, kBad},       // NUL time digits count as -48
        {"2A4C038000", 3, 0x2A4C, 79952},  // 80000 - 48 still a valid second
        {"2A", -1, kBad, kBad},
        {"000:0100000", 1, kBad, 0},  // ':' follows '9' but is no hex digit
        {"00010/00000", -1, 1, 0},    // '/' precedes '0': camera 0*10-1
        // Bytes count by their unsigned code whatever the signedness of char.
        {"2A4C0\26300000", -1, 0x2A4C, 0},  // 0 * 10 + 131
        {"2A4C030000\xB0", 3, 0x2A4C, 128},
    };
    for (const auto& c : cases) {
        char id[12] = {};
        std::strncpy(id, c.id, sizeof id - 1);
        EXPECT_EQ(getCmr(id), c.cam) << c.id;
        EXPECT_EQ(getDate(id), c.day) << c.id;
        EXPECT_EQ(getTime(id), c.time) << c.id;
    }
}

TEST(DateTimeFormat, TableAndFallback)
{
    const struct {
        unsigned char date_format, time_format;
        const char* expected;
    } cases[] = {
        {0, 1, "%m/%d/%y %I:%M:%S %p"}, {1, 0, "%d/%m/%y %H:%M:%S"}, {2, 1, "%y/%m/%d %I:%M:%S %p"},
        {3, 1, "%m/%d/%y %I:%M:%S %p"}, {1, 2, "%d/%m/%y %H:%M:%S"},
    };
    for (const auto& c : cases) {
        system_time_date_setting time_date{};
        time_date.date_format = c.date_format;
        time_date.time_format = c.time_format;
        EXPECT_STREQ(currentDtFormat(&time_date), c.expected)
            << int(c.date_format) << "," << int(c.time_format);
    }
}

// Runs a page writer on `templ` (written as `file` into a scratch folder)
// with the response in a temporary file; returns the response.
template <typename Writer>
std::string written(const char* file, const std::string& templ, Writer writer)
{
    char dir[] = "/tmp/zelpage.XXXXXX";
    char cwd[4096];
    EXPECT_TRUE(mkdtemp(dir) && getcwd(cwd, sizeof cwd) && chdir(dir) == 0);
    FILE* f = std::fopen(file, "w");
    std::fwrite(templ.data(), 1, templ.size(), f);
    std::fclose(f);
    FILE* saved = cgiOut;
    cgiOut = std::tmpfile();
    EXPECT_EQ(writer(), 0);
    std::string out(static_cast<size_t>(std::ftell(cgiOut)), '\0');
    std::rewind(cgiOut);
    EXPECT_EQ(std::fread(&out[0], 1, out.size(), cgiOut), out.size());
    std::fclose(cgiOut);
    cgiOut = saved;
    std::remove(file);
    EXPECT_TRUE(chdir(cwd) == 0 && rmdir(dir) == 0);
    return out;
}

const std::string kLang = "<script src='language/0.js' type='text/javascript'></script>\n";

// Marker lines of the live template at 4 cameras, each replaced whole, also
// in a template larger than one read whose pieces, markers and long lines
// straddle the reader's internal blocks.
TEST(PageWriter, LiveMarkersReplaceWholePiece)
{
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
        {"<p>text</p>\n", "<p>text</p>\n"},
        {"a <!-- Language --> b\n", kLang},
        {"<!-- Channels -->\n", ""},                      // no cells past the fourth camera
        {"<!-- Channels --><!-- Language -->\n", kLang},  // language wins over channels
        {pad + "<!-- Language -->\n", pad + "<!-- Language -->\n"},  // split across pieces
        {"end", "end"},                                              // no final newline
        {std::string("ab\0<!-- Language -->\ncd\n", 24), "abcd\n"},  // text ends at a NUL
        {large, expected},
    };
    zelRequest req{};
    req.g_channelAmt = 4;
    unsigned char list[ZEL_COVERT_CAMERAS] = {};
    for (const auto& [templ, want] : cases)
        EXPECT_EQ(written("ZelBrowser.htm", templ, [&] { return showIndexHtml(&req, 1, 1, list); }),
                  want)
            << templ.substr(0, 60);
}

// The information block wins over the other markers on its line; the
// playback page keeps the live page's markers and fills its own.
TEST(PageWriter, InformationBlocks)
{
    zelRequest req{};
    req.netSetting.ip_advanced.listen_port = 65535;
    req.netSetting.ip_advanced.tcp_control_port = 1;
    std::memcpy(req.netSetting.ip_settings.ethernet_password, "ab\0cd", 5);
    req.g_channelAmt = 16;
    req.g_model = 200;
    req.g_brand = 7;
    req.time_date.date_format = 1;
    req.time_date.time_format = 1;
    unsigned char list[ZEL_COVERT_CAMERAS] = {};
    list[0] = 1;
    list[19] = 255;
    std::string expected =
        "\t\tg_conn_port=\"65535\";\n\t\tm_port=1;\n\t\tg_conn_pass=\"ab\";\n"
        "\t\tg_covert_access=1;\n\t\tg_frontpanel_access=0;\n\t\ttop.m_CameraCount=16;\n"
        "\t\ttop.m_ModelName=200;\n\t\ttop.m_pType=7;\n\t\ttop.logType(200);\n"
        "\t\tdt_format = \"%d/%m/%y %I:%M:%S %p\";\n";
    for (int i = 0; i < 20; ++i)
        expected +=
            "\t\tg_covert_list[" + std::to_string(i) + "]=" + std::to_string(list[i]) + ";\n";
    EXPECT_EQ(
        written("ZelBrowser.htm", "<!-- Language --> <!-- Channels --> <!-- information -->\n",
                [&] { return showIndexHtml(&req, 0, 1, list); }),
        expected);

    std::memcpy(req.netSetting.ip_settings.ethernet_password, "abcde", 5);
    req.g_channelAmt = 8;
    req.time_date.time_format = 0;
    EXPECT_EQ(
        written("Playback.htm", "<!-- information -->\n<!-- Channels -->\nx<!-- Information -->y\n",
                [&] { return showPlaybackHtml(&req, 1, 0, list, 3, 0x2A4C, 86399); }),
        "<!-- information -->\n<!-- Channels -->\n"
        "\t\tm_cam=2\n\t\tm_year=2021\n\t\tm_month=2\n\t\tm_date=12\n"
        "\t\tm_hour=23\n\t\tm_min=59\n\t\tm_sec=59\n"
        "\t\tg_conn_port=\"65535\";\n\t\tm_port=1;\n\t\tg_conn_pass=\"abcd\";\n"
        "\t\tg_covert_access=0;\n\t\tm_CameraCount=8;\n\t\tm_ModelName=200;\n"
        "\t\ttop.m_pType=7;\n\t\tdt_format = \"%d/%m/%y %H:%M:%S\";\n");
}

}  // namespace
